#include "firewall.h"

#include "systemprobes.h"

std::vector<FirewallTool> findFirewallTools()
{
    return findFirewallTools({"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
}

std::vector<FirewallTool> findFirewallTools(const std::vector<std::string>& directories)
{
    static const struct
    {
        const char* name;
        const char* showCommand;
    } kTools[] = {
        {"nft", "nft list ruleset"},
        {"iptables", "iptables -L -n -v"},
        {"ufw", "ufw status verbose"},
        {"firewall-cmd", "firewall-cmd --list-all"},
    };
    std::vector<FirewallTool> found;
    for (const auto& tool : kTools) {
        for (const std::string& directory : directories) {
            const std::string path = directory + "/" + tool.name;
            if (isExecutableFile(path)) {
                found.push_back({tool.name, path, tool.showCommand});
                break;
            }
        }
    }
    return found;
}

std::string firewallToolsText(const std::vector<FirewallTool>& tools)
{
    if (tools.empty())
        return "no firewall tool (nft, iptables, ufw, firewall-cmd) found on this system";
    std::string text;
    for (const FirewallTool& tool : tools) {
        if (!text.empty())
            text += ", ";
        text += tool.name + " (" + tool.showCommand + ")";
    }
    return text;
}
