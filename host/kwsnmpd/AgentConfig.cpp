#include "host/kwsnmpd/AgentConfig.h"

#include <fcntl.h>
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

// Writes all of `text` to a new file in the runtime directory.
bool writeFile(const AgentConfig& config, const std::string& name, const std::string& text,
               std::string* error)
{
    const int fd = config.createFile(name, O_WRONLY);
    bool ok = fd >= 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    if (!ok) *error = systemError("cannot write " + config.runtimeDir() + "/" + name);
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        *error = systemError("cannot write " + config.runtimeDir() + "/" + name);
        ok = false;
    }
    return ok;
}

// A base for the runtime directory: a directory itself (not a link to one), and either ours
// and writable by nobody else, or sticky so that nobody else can rename or remove what we make.
bool safeBase(const char* dir)
{
    if (dir == nullptr || *dir != '/' || ::access(dir, W_OK | X_OK) != 0) return false;
    const int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) &&
                    ((st.st_mode & S_ISVTX) != 0 ||
                     (st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0));
    ::close(fd);
    return ok;
}

// The first directory of a variable that systemd sets to a colon-separated list.
std::string directoryFrom(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) return {};
    return std::string(value, std::strcspn(value, ":"));
}

std::string baseDirectory()
{
    for (const char* name : {"RUNTIME_DIRECTORY", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const std::string dir = directoryFrom(name);
        if (!dir.empty() && safeBase(dir.c_str())) return dir;
    }
    return "/tmp";
}

// Opens the directory mkdtemp made and checks it is still the private one it made.
int openPrivateDirectory(const std::string& path, std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *error = systemError("cannot open the runtime directory " + path);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700) {
        *error = "the runtime directory " + path + " is not private to this user";
        ::close(fd);
        return -1;
    }
    return fd;
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
    config->m_dirFd = openPrivateDirectory(config->m_runtimeDir, error);
    if (config->m_dirFd < 0) return nullptr;

    // The agent's persistent state (SNMPv3 engine boots, USM users) outlives the run only in a
    // directory that does: the operator's SNMP_PERSISTENT_DIR, or the service's state directory.
    std::string persistent = directoryFrom("SNMP_PERSISTENT_DIR");
    if (persistent.empty()) persistent = directoryFrom("STATE_DIRECTORY");
    // Net-SNMP announces every directory it has to create there; make the ones it wants.
    if (persistent.empty()) {
        persistent = config->m_runtimeDir + "/persist";
        for (const char* dir : {"persist", "persist/cert_indexes"}) {
            if (::mkdirat(config->m_dirFd, dir, 0700) != 0) {
                *error = systemError("cannot create " + config->m_runtimeDir + "/" + dir);
                return nullptr;
            }
        }
    } else {
        for (const std::string& dir : {persistent, persistent + "/cert_indexes"}) {
            if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
                *error = systemError("cannot create " + dir);
                return nullptr;
            }
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
            config->m_listenText = request.listen;
        }
        if (!request.communities.empty())
            generated += communityLines(request.communities, request.listen);
        if (request.listenGiven || !request.communities.empty())
            searchPath += ":" + config->m_runtimeDir;
        if (config->m_listenText.empty()) config->m_listenText = "Net-SNMP's default address";
    } else if (request.subagent) {
        searchPath = config->m_runtimeDir;
    } else {
        generated += "agentaddress " + request.listen + "\n" +
                     communityLines(request.communities, request.listen);
        searchPath = config->m_runtimeDir;
        config->m_listenText = request.listen;
    }
    // Notifications go to the sinks asked for as well as to any the operator's file names.
    for (const std::string& sink : request.trapSinks)
        generated += "trap2sink " + sink + " public\n";
    if (request.configDir && !request.listenGiven && request.communities.empty() &&
        !request.trapSinks.empty()) {
        searchPath += ":" + config->m_runtimeDir;
    }
    if (!writeFile(*config, "snmpd.conf", generated, error)) return nullptr;

    // With SNMPCONFPATH set Net-SNMP reads its persistent files only from that path.
    searchPath += ":" + persistent;
    ::setenv("SNMPCONFPATH", searchPath.c_str(), 1);
    ::setenv("SNMP_PERSISTENT_DIR", persistent.c_str(), 1);
    return config;
}

int AgentConfig::createFile(const std::string& name, int flags) const
{
    return ::openat(m_dirFd, name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

void AgentConfig::removeFile(const std::string& name) const
{
    ::unlinkat(m_dirFd, name.c_str(), 0);
}

AgentConfig::~AgentConfig()
{
    if (m_dirFd >= 0) ::close(m_dirFd);
    // Nobody else can rename or replace the directory (see baseDirectory), so its path is
    // still ours; remove_all does not follow links inside it.
    if (m_runtimeDir.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_runtimeDir, ignored);
}

}  // namespace kw::kwsnmpd
