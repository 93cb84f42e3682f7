#pragma once

// Internal to the records library: the store URLs and the check ids.

#include <string>
#include <vector>

enum class StoreKind
{
    Sqlite,     // "sqlite:PATH"
    Postgresql, // "postgresql://..." or "postgres://..."
    Unknown,
};

StoreKind storeKind(const std::string& url);
// The PATH of "sqlite:PATH".
std::string sqlitePath(const std::string& url);
// What a PostgreSQL URL holds that must never reach a message: the password
// of its user part and of a "password=" parameter, as written and decoded.
std::vector<std::string> urlSecrets(const std::string& url);
// text with every secret replaced by "***".
std::string withoutSecrets(std::string text, const std::vector<std::string>& secrets);
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lowercase hex.
std::string uuidText(const unsigned char (&bytes)[16]);
