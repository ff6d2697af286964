#include "host/kwsnmpd/AgentConfig.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace kw::kwsnmpd {
namespace {

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool writeFile(const std::string& path, const std::string& text, std::string* error)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

std::string baseDirectory()
{
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* dir = std::getenv(name);
        if (dir != nullptr && *dir != '\0' && ::access(dir, W_OK | X_OK) == 0) return dir;
    }
    return "/tmp";
}

// The first agentaddress line of a configuration file, for the start-up line.
std::string configuredAddress(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        constexpr const char kToken[] = "agentaddress";
        if (line.compare(start, sizeof kToken - 1, kToken) != 0) continue;
        const size_t value = line.find_first_not_of(" \t", start + sizeof kToken - 1);
        if (value == std::string::npos || value == start + sizeof kToken - 1) continue;
        const size_t end = line.find_last_not_of(" \t\r");
        return line.substr(value, end - value + 1);
    }
    return {};
}

}  // namespace

std::unique_ptr<AgentConfig> AgentConfig::prepare(const Request& request, std::string* error)
{
    std::unique_ptr<AgentConfig> config(new AgentConfig());

    std::string operatorFile;
    if (request.configDir) {
        operatorFile = *request.configDir + "/snmpd.conf";
        if (::access(operatorFile.c_str(), R_OK) != 0) {
            *error = "--config " + *request.configDir + ": " +
                     (errno == ENOENT ? std::string("no snmpd.conf in that directory")
                                      : systemError(operatorFile));
            return nullptr;
        }
    }

    std::string pattern = baseDirectory() + "/kwsnmpd.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        *error = systemError("cannot create a runtime directory under " + baseDirectory());
        return nullptr;
    }
    config->m_runtimeDir = buffer.data();

    // Net-SNMP announces every directory it has to create there; make the ones it wants.
    const std::string persistent = config->m_runtimeDir + "/persist";
    for (const std::string& dir : {persistent, persistent + "/cert_indexes"}) {
        if (::mkdir(dir.c_str(), 0700) != 0) {
            *error = systemError("cannot create " + dir);
            return nullptr;
        }
    }

    // Net-SNMP reads the directories of SNMPCONFPATH in order, and for a setting such as
    // agentaddress the last one read wins: the generated file comes after the operator's.
    std::string generated = "# Written by kwsnmpd for this run; removed when it stops.\n";
    std::string searchPath;
    if (request.configDir) {
        searchPath = *request.configDir;
        config->m_listenText = configuredAddress(operatorFile);
        if (request.listenGiven) {
            generated += "agentaddress " + request.listen + "\n";
            searchPath += ":" + config->m_runtimeDir;
            config->m_listenText = request.listen;
        }
        if (config->m_listenText.empty()) config->m_listenText = "Net-SNMP's default address";
    } else {
        generated += "agentaddress " + request.listen +
                     "\n"
                     "rocommunity  public  default\n"
                     "rwcommunity  private default\n"
                     "rocommunity6 public  default\n"
                     "rwcommunity6 private default\n";
        searchPath = config->m_runtimeDir;
        config->m_listenText = request.listen;
    }
    // Notifications go to the sinks asked for as well as to any the operator's file names.
    for (const std::string& sink : request.trapSinks)
        generated += "trap2sink " + sink + " public\n";
    if (request.configDir && !request.listenGiven && !request.trapSinks.empty()) {
        searchPath += ":" + config->m_runtimeDir;
    }
    if (!writeFile(config->m_runtimeDir + "/snmpd.conf", generated, error)) return nullptr;

    ::setenv("SNMPCONFPATH", searchPath.c_str(), 1);
    // An operator who keeps the agent's state somewhere (v3 engine boots) says so.
    ::setenv("SNMP_PERSISTENT_DIR", persistent.c_str(), 0);
    return config;
}

AgentConfig::~AgentConfig()
{
    if (m_runtimeDir.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_runtimeDir, ignored);
}

}  // namespace kw::kwsnmpd
