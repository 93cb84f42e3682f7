#pragma once

// Which packet-filter tools this system has, so that a user whose datagrams
// vanish knows where to look.

#include <string>
#include <vector>

struct FirewallTool
{
    std::string name;        // "nft", "iptables", "ufw", "firewall-cmd"
    std::string path;        // where it was found
    std::string showCommand; // how to list its rules (as root)
};

// The tools found as executables in directories (by default the usual
// system folders), each once, in the order nft, iptables, ufw, firewall-cmd.
std::vector<FirewallTool> findFirewallTools();
std::vector<FirewallTool> findFirewallTools(const std::vector<std::string>& directories);

// "nft (nft list ruleset), iptables (iptables -L -n -v)", or a text saying
// that none was found.
std::string firewallToolsText(const std::vector<FirewallTool>& tools);
