#pragma once
// A route to a panel: one command out, its reply back.
//
//   SimLink     the simulated panel in this process (with fault injection);
//   StreamLink  a byte line: a serial device, or a TCP connection as with serial-to-IP
//               converters, reconnected in the background after a drop.
//
// openLink() builds one from a text such as "sim", "tcp:10.0.0.5:5000" or
// "serial:/dev/ttyS1:9600".
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/panel/Codec.h"
#include "host/panel/Faults.h"
#include "host/panel/Io.h"
#include "host/panel/PanelModel.h"
#include "host/panel/PanelResponder.h"

namespace kw::panel {

class PanelLink {
public:
    virtual ~PanelLink() = default;

    // Sends one command and waits up to `timeout` for the panel's reply to it (a reply whose
    // command byte is `cmd`, acknowledged or not). Empty when none came: the link is down,
    // the panel stayed silent, or what came back was not a valid reply. Calls from several
    // threads are served one at a time.
    virtual std::optional<Reply> transact(uint8_t cmd, uint8_t displayId,
                                          const std::vector<uint8_t>& data,
                                          std::chrono::milliseconds timeout) = 0;
    // Whether a command could go out now.
    virtual bool connected() const = 0;
    virtual std::string describe() const = 0;
    // Ends any wait at once, stops background work; later transactions fail at once.
    virtual void shutdown() = 0;
};

struct LinkStats {
    uint64_t transactions = 0;
    uint64_t replies = 0;     // transactions answered
    uint64_t failedFast = 0;  // refused because the link was down or shut down
    uint64_t timeouts = 0;
    uint64_t staleReplies = 0;  // replies nobody was waiting for
    uint64_t connects = 0;      // successful (re)connections
    uint64_t drops = 0;         // lines lost after they were up, silent ones included
    uint64_t silentDrops = 0;   // of which closed because the panel stopped answering
    ReaderStats reader;
};

// The simulated panel in this process. Each command travels as line-dialect bytes through
// the panel's responder and back through a reply reader, so injected corruption and garbage
// are caught exactly as on a wire. A reply delay is waited out (in real time); a delay
// longer than the timeout waits the timeout and fails. A silent panel fails at once: nothing
// is gained by sleeping through the caller's timeout in-process.
class SimLink : public PanelLink {
public:
    struct Options {
        FaultConfig faults;
        // Empty: the panel answers whatever display ID it is sent.
        std::optional<uint8_t> displayId;
    };

    // A fresh model when none is given.
    explicit SimLink(Options options = {}, std::shared_ptr<PanelModel> model = nullptr);
    ~SimLink() override;

    std::optional<Reply> transact(uint8_t cmd, uint8_t displayId, const std::vector<uint8_t>& data,
                                  std::chrono::milliseconds timeout) override;
    bool connected() const override { return !m_shutdown.load(); }
    std::string describe() const override { return "sim"; }
    void shutdown() override;

    const std::shared_ptr<PanelModel>& model() const { return m_model; }
    LinkStats stats() const;

private:
    std::shared_ptr<PanelModel> m_model;
    std::mutex m_transactionMutex;  // one command at a time; guards m_responder
    PanelResponder m_responder;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_shutdown{false};
    LinkStats m_stats;
};

struct LinkOptions {
    Dialect dialect = Dialect::Line;
    std::chrono::milliseconds interByteTimeout{100};
    std::chrono::milliseconds connectTimeout{1000};
    // Reconnection: the first retry after retryMin, doubling up to retryMax.
    std::chrono::milliseconds retryMin{100};
    std::chrono::milliseconds retryMax{2000};
    // A line that stays open while the panel answers nothing (a hung panel, a converter that
    // lost power with no FIN or RST) is taken as down after this many commands in a row went
    // unanswered; 0 never. Two: one silence may be a panel busy with a slow command, and two
    // reply waits of about 10 s still report the line down within 30 s.
    unsigned silentLimit = 2;
    // After such a drop a fresh connection proves nothing (the converter, or the kernel of a
    // hung panel's host, accepts it): the line counts as up again only once the panel answers
    // this harmless read (the power state), sent for the last display ID used, within as long
    // as any reply may take.
    uint8_t probeCommand = 0x11;
    std::chrono::milliseconds probeTimeout{10000};
    // Only for "sim".
    FaultConfig simFaults;
};

class StreamLink : public PanelLink {
public:
    // Opens the line; returns an invalid descriptor and fills `error` when it cannot.
    using Connector = std::function<UniqueFd(std::string* error)>;

    // `initial` is an already open descriptor, or invalid to connect in the background.
    StreamLink(std::string name, Connector connector, LinkOptions options,
               UniqueFd initial = UniqueFd());
    ~StreamLink() override;

    std::optional<Reply> transact(uint8_t cmd, uint8_t displayId, const std::vector<uint8_t>& data,
                                  std::chrono::milliseconds timeout) override;
    bool connected() const override;
    std::string describe() const override { return m_name; }
    void shutdown() override;

    LinkStats stats() const;
    // Why the last connection attempt failed or the line dropped; empty when up.
    std::string lastError() const;
    // Waits until the line is up (true) or `timeout` passes (false). For start-up and tests.
    bool waitConnected(std::chrono::milliseconds timeout) const;

private:
    void run();
    void closeLine(const std::string& why);
    void onBytes(const uint8_t* bytes, size_t count);
    void onSilence();
    void lineUp();
    void sendProbe(int fd);
    void pauseBeforeRetry();

    const std::string m_name;
    const Connector m_connector;
    const LinkOptions m_options;

    std::mutex m_joinMutex;
    std::mutex m_transactionMutex;  // one command at a time
    std::mutex m_writeMutex;        // held while writing; the I/O thread takes it to close
    mutable std::mutex m_mutex;     // everything below
    mutable std::condition_variable m_changed;
    UniqueFd m_fd;
    bool m_up = false;
    bool m_stop = false;
    std::string m_closeRequest;  // a writer saw the line fail, or the panel fall silent
    unsigned m_silent = 0;       // commands unanswered since the panel last said anything
    bool m_suspect = false;      // dropped for silence: a new connection must be probed
    std::optional<std::chrono::steady_clock::time_point> m_probeDeadline;  // probe in flight
    uint8_t m_lastDisplayId = 0;
    std::chrono::milliseconds m_retry;  // the pause before the next connection attempt
    uint64_t m_generation = 0;          // bumped on every connect
    std::optional<uint8_t> m_awaiting;  // command byte of the transaction in flight
    std::optional<Reply> m_reply;
    std::string m_lastError;
    LinkStats m_stats;
    ReplyReader m_reader;  // used by the I/O thread only, under m_mutex for the statistics
    WakeFd m_wake;
    std::thread m_thread;
};

struct LinkSpec {
    enum class Kind { Sim, Tcp, Serial };
    Kind kind = Kind::Sim;
    HostPort tcp;
    SerialSpec serial;
};

// "sim", "tcp:HOST:PORT" or "serial:DEV[:BAUD]".
std::optional<LinkSpec> parseLinkSpec(std::string_view text, std::string* error);

// A serial device that cannot be opened is an error (null, `error` set). A TCP panel that
// is not reachable is not: the link keeps trying in the background.
std::unique_ptr<PanelLink> openLink(const LinkSpec& spec, const LinkOptions& options,
                                    std::string* error);
std::unique_ptr<StreamLink> openTcpLink(const HostPort& where, const LinkOptions& options);
std::unique_ptr<StreamLink> openSerialLink(const SerialSpec& spec, const LinkOptions& options,
                                           std::string* error);

}  // namespace kw::panel
