#include "link/VoSerialLinuxSNMP.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/VoUtilSNMP.h"

namespace {
// Lets the rest of a burst arrive before the port is drained.
constexpr long kBurstWaitMs = 100;
}  // namespace

VoEventSNMP VoSerialLinuxSNMP::m_Event;

VoSerialLinuxSNMP::VoSerialLinuxSNMP(const char* device, nsVoSerialSNMP::eVoBaudRate baud,
                                     nsVoSerialSNMP::eVoDataBit dataBits, bool bReserved)
    : m_nFd(-1), m_OldTio(), m_NewTio()
{
    Create(device, baud, dataBits, bReserved);
}

VoSerialLinuxSNMP::~VoSerialLinuxSNMP()
{
    const int fd = m_nFd.exchange(-1);
    if (fd != -1) close(fd);
}

bool VoSerialLinuxSNMP::Create(const char* device, nsVoSerialSNMP::eVoBaudRate baud,
                               nsVoSerialSNMP::eVoDataBit dataBits, bool /*bReserved*/)
{
    // A second Create would otherwise leak the descriptor it replaces.
    Close();

    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd == -1) {
        perror(device);
        return false;
    }

    // Wake-ups left over from an earlier port (or an earlier stop) would end the first
    // receive of this one early.
    while (m_Event.SetWait(true) == 0) {
    }

    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = &VoSerialLinuxSNMP::signal_handler_IO;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGIO, &action, nullptr);

    fcntl(fd, F_SETOWN, getpid());
    fcntl(fd, F_SETFL, O_ASYNC | O_NONBLOCK);

    tcgetattr(fd, &m_OldTio);
    std::memset(&m_NewTio, 0, sizeof(m_NewTio));
    m_NewTio.c_iflag = IGNPAR;
    m_NewTio.c_oflag = OPOST;
    m_NewTio.c_cflag =
        static_cast<tcflag_t>(baud) | static_cast<tcflag_t>(dataBits) | CLOCAL | CREAD;
    m_NewTio.c_lflag = 0;
    m_NewTio.c_cc[VMIN] = 1;
    m_NewTio.c_cc[VTIME] = 0;
    tcflush(fd, TCIFLUSH);
    tcsetattr(fd, TCSANOW, &m_NewTio);

    m_nFd.store(fd);
    return true;
}

void VoSerialLinuxSNMP::Close()
{
    // Marked closed first, so a sender on another thread gets -1 rather than a dead descriptor.
    const int fd = m_nFd.exchange(-1);
    if (fd == -1) return;
    tcsetattr(fd, TCSANOW, &m_OldTio);
    close(fd);
}

bool VoSerialLinuxSNMP::IsOpen()
{
    return m_nFd.load() != -1;
}

int VoSerialLinuxSNMP::OnSend(const char* bytes, unsigned int count)
{
    if (bytes == nullptr || count == 0) return -1;
    const int fd = m_nFd.load();
    if (fd == -1) return -1;
    // One write; a short or failed one is the caller's to judge.
    return static_cast<int>(write(fd, bytes, count));
}

int VoSerialLinuxSNMP::OnReceive(char* buffer, unsigned int capacity)
{
    if (buffer == nullptr || capacity == 0 || m_nFd.load() == -1) return -1;

    // An interrupted wait counts as a wake-up; the closing SetWait(true) absorbs the post.
    m_Event.WaitEvent();
    if (m_bStop.load()) return 0;
    VoSleepSNMP(kBurstWaitMs);

    const int fd = m_nFd.load();
    unsigned int total = 0;
    while (fd != -1 && total < capacity) {
        const ssize_t n = read(fd, buffer + total, capacity - total);
        if (n <= 0) break;
        total += static_cast<unsigned int>(n);
    }

    // The burst may have raised more than one SIGIO; one extra must not cause an empty wake-up.
    m_Event.SetWait(true);
    return static_cast<int>(total);
}

void VoSerialLinuxSNMP::WakeReceive()
{
    m_Event.SetWait(false);
}

void VoSerialLinuxSNMP::signal_handler_IO(int /*status*/)
{
    // sem_post may set errno; the interrupted code must not see it change.
    const int savedErrno = errno;
    m_Event.SetWait(false);
    errno = savedErrno;
}
