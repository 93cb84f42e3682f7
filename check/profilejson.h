#pragma once

// Internal to the check library: the profile as the report writes it.

#include "checkprofile.h"

#include <nlohmann/json.hpp>

nlohmann::ordered_json profileJson(const CheckProfile& profile);
