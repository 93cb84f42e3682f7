#include "framedamage.h"
#include "framedecoder.h"
#include "framegenerator.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct DamageRun
{
    int frames = 0;
    int damaged = 0;
    std::map<FrameDamage, int> kinds;
};

// Generates frames, damages them with probability p and feeds every one into
// one FrameData, as a receiver would; checks the decoder's bounds after each.
DamageRun run(double p, uint64_t seed, int frames, SkywandFormat format)
{
    GeneratorSettings settings;
    settings.seed = seed;
    settings.format = format;
    const FrameGenerator generator(settings);
    FrameData data;
    DamageRun result;
    for (uint32_t n = 1; n <= static_cast<uint32_t>(frames); ++n) {
        const std::string original = generator.frame(n, n / 1000.0);
        std::string text = original;
        const FrameDamage kind = damageFrame(text, p, seed, n);
        ++result.frames;
        if (kind == FrameDamage::None) {
            EXPECT_EQ(text, original) << "frame " << n;
        } else {
            EXPECT_NE(text, original) << "frame " << n << " reported damaged but unchanged";
            ++result.damaged;
            ++result.kinds[kind];
        }
        data.beginFrame();
        decodeFrame(data, text.data(), text.size());
        EXPECT_GE(data.numSkywand, 0);
        EXPECT_LE(static_cast<size_t>(data.numSkywand), data.skywands.size());
        EXPECT_LE(static_cast<size_t>(data.numMarker), data.markers.size());
    }
    return result;
}

struct RateCase
{
    double probability;
    int minDamaged;
    int maxDamaged;
};

class FrameDamageRate : public ::testing::TestWithParam<RateCase>
{
};

TEST_P(FrameDamageRate, DamagesAboutTheRequestedShareWithoutBreakingTheDecoder)
{
    for (const SkywandFormat format : {SkywandFormat::TwoCount, SkywandFormat::OneCount}) {
        const DamageRun r = run(GetParam().probability, 7, 4000, format);
        EXPECT_GE(r.damaged, GetParam().minDamaged);
        EXPECT_LE(r.damaged, GetParam().maxDamaged);
    }
}

INSTANTIATE_TEST_SUITE_P(FrameDamage, FrameDamageRate,
                         ::testing::Values(RateCase{0.0, 0, 0}, RateCase{0.05, 120, 290},
                                           RateCase{0.5, 1850, 2150}, RateCase{1.0, 4000, 4000}));

TEST(FrameDamage, EveryKindOccursAndTheRunRepeatsWithItsSeed)
{
    const DamageRun r = run(1.0, 3, 3000, SkywandFormat::TwoCount);
    for (const FrameDamage kind :
         {FrameDamage::DroppedBracket, FrameDamage::JunkNumber, FrameDamage::RaisedCount,
          FrameDamage::Truncation, FrameDamage::StrayNul, FrameDamage::ByteBurst})
        EXPECT_GT(r.kinds.count(kind) ? r.kinds.at(kind) : 0, 300) << static_cast<int>(kind);

    const FrameGenerator generator(GeneratorSettings{});
    int differ = 0;
    for (uint32_t n = 1; n <= 200; ++n) {
        std::string a = generator.frame(n, 0.5), b = a, c = a;
        damageFrame(a, 0.5, 11, n);
        damageFrame(b, 0.5, 11, n);
        damageFrame(c, 0.5, 12, n);
        EXPECT_EQ(a, b) << "same seed, same damage";
        differ += a != c;
    }
    EXPECT_GT(differ, 50) << "another seed damages other frames";
}

} // namespace
