#include "checkstore.h"

#include "pgcheckstore.h"
#include "sqlitecheckstore.h"
#include "storeurl.h"
#include "textreaders.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <random>

namespace {

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

std::string percentDecoded(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && digitValue(text[i + 1]) < 16 &&
            digitValue(text[i + 2]) < 16) {
            out += char(digitValue(text[i + 1]) * 16 + digitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct UrlParts
{
    size_t passwordBegin = std::string::npos; // in the user part
    size_t passwordEnd = std::string::npos;
    // "password=" parameters: where each value begins and ends.
    std::vector<std::pair<size_t, size_t>> parameters;
};

UrlParts urlParts(const std::string& url)
{
    UrlParts parts;
    const size_t scheme = url.find("://");
    if (storeKind(url) != StoreKind::Postgresql || scheme == std::string::npos)
        return parts;
    const size_t authority = scheme + 3;
    size_t end = url.find_first_of("/?", authority);
    if (end == std::string::npos)
        end = url.size();
    // The last '@' of the authority, so that a password with an unescaped
    // '@' is covered whole.
    const size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
    if (at != std::string::npos && at >= authority) {
        const size_t colon = url.find(':', authority);
        if (colon != std::string::npos && colon < at) {
            parts.passwordBegin = colon + 1;
            parts.passwordEnd = at;
        }
    }
    const size_t query = url.find('?', authority);
    for (size_t p = query; p != std::string::npos && p < url.size();) {
        const size_t next = url.find('&', p + 1);
        const size_t stop = next == std::string::npos ? url.size() : next;
        const std::string key = "password=";
        if (url.compare(p + 1, key.size(), key) == 0)
            parts.parameters.emplace_back(p + 1 + key.size(), stop);
        p = next;
    }
    return parts;
}

} // namespace

StoreKind storeKind(const std::string& url)
{
    if (startsWith(url, "sqlite:"))
        return StoreKind::Sqlite;
    if (startsWith(url, "postgresql://") || startsWith(url, "postgres://"))
        return StoreKind::Postgresql;
    return StoreKind::Unknown;
}

std::string sqlitePath(const std::string& url)
{
    return url.substr(std::string("sqlite:").size());
}

std::vector<std::string> urlSecrets(const std::string& url)
{
    const UrlParts parts = urlParts(url);
    std::vector<std::string> secrets;
    const auto add = [&](size_t begin, size_t end) {
        if (begin >= end)
            return;
        secrets.push_back(url.substr(begin, end - begin));
        secrets.push_back(percentDecoded(secrets.back()));
    };
    if (parts.passwordBegin != std::string::npos)
        add(parts.passwordBegin, parts.passwordEnd);
    for (const auto& [begin, end] : parts.parameters)
        add(begin, end);
    return secrets;
}

std::string withoutSecrets(std::string text, const std::vector<std::string>& secrets)
{
    for (const std::string& secret : secrets) {
        if (secret.empty())
            continue;
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
            text.replace(at, secret.size(), "***");
    }
    return text;
}

std::string uuidText(const unsigned char (&bytes)[16])
{
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 15];
    }
    return text;
}

std::string defaultCheckStoreUrl()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string folder;
    if (data && *data == '/') {
        folder = data;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::string(home && *home ? home : ".") + "/.local/share";
    }
    return "sqlite:" + folder + "/skywandtester/checks.sqlite";
}

std::string redactedStoreUrl(const std::string& url)
{
    const UrlParts parts = urlParts(url);
    std::vector<std::pair<size_t, size_t>> spans = parts.parameters;
    if (parts.passwordBegin != std::string::npos)
        spans.insert(spans.begin(), {parts.passwordBegin, parts.passwordEnd});
    // The spans come in order of position; replace from the last one.
    std::string out = url;
    for (auto span = spans.rbegin(); span != spans.rend(); ++span)
        out.replace(span->first, span->second - span->first, "***");
    return out;
}

std::unique_ptr<CheckStore> openCheckStore(const std::string& url, std::string& error)
{
    switch (storeKind(url)) {
    case StoreKind::Sqlite:
        return SqliteCheckStore::open(url, sqlitePath(url), error);
    case StoreKind::Postgresql:
        return PgCheckStore::open(url, error);
    case StoreKind::Unknown:
        break;
    }
    error = redactedStoreUrl(url) +
            ": not a store URL (sqlite:PATH, postgresql://user@host/db or postgres://...)";
    return nullptr;
}

std::string newCheckId()
{
    unsigned char bytes[16] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    if (got < sizeof bytes) {
        try {
            std::random_device device;
            for (unsigned char& b : bytes)
                b = static_cast<unsigned char>(device());
        } catch (...) {
            return std::string();
        }
    }
    bytes[6] = (bytes[6] & 0x0f) | 0x40; // version 4
    bytes[8] = (bytes[8] & 0x3f) | 0x80; // RFC 4122 variant
    return uuidText(bytes);
}
