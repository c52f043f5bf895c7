// MIDI inputs on the ALSA sequencer. Every readable, subscribable port of
// another client is one input device, named by its port name. Opening one
// subscribes our own input port to it; a reader thread takes the events off
// the sequencer and hands note-ons, note-offs and control changes to the
// input's callback as packed short messages.
#include "MidiInput.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <mutex>
#include <thread>
#include <vector>

namespace {

struct PortRef
{
    int client = -1;
    int port = -1;
    QString name;
};

struct OpenInput
{
    MidiInputBackend::Handle id = 0;
    int client = -1;
    int port = -1;
    MidiInputBackend::Callback callback = nullptr;
    void* instance = nullptr;
    bool started = false;
};

quint32 toShortMessage(const snd_seq_event_t* ev, bool* ok)
{
    *ok = true;
    switch (ev->type) {
    case SND_SEQ_EVENT_NOTEON:
        // A note-on with velocity 0 stays a note-on with velocity 0.
        return MidiShortMessage::pack(0x90 | (ev->data.note.channel & 0x0F), ev->data.note.note,
                                      ev->data.note.velocity);
    case SND_SEQ_EVENT_NOTEOFF:
        return MidiShortMessage::pack(0x80 | (ev->data.note.channel & 0x0F), ev->data.note.note,
                                      ev->data.note.off_velocity);
    case SND_SEQ_EVENT_CONTROLLER:
        return MidiShortMessage::pack(0xB0 | (ev->data.control.channel & 0x0F), int(ev->data.control.param),
                                      ev->data.control.value);
    default:
        *ok = false;
        return 0;
    }
}

class AlsaSeqMidi final : public MidiInputBackend
{
public:
    ~AlsaSeqMidi() override
    {
        if (m_reader.joinable()) {
            const char c = 'q';
            [[maybe_unused]] ssize_t w = ::write(m_wake[1], &c, 1);
            m_reader.join();
        }
        if (m_seq)
            snd_seq_close(m_seq);
        for (int fd : m_wake) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    bool available() override
    {
        std::lock_guard lock(m_mx);
        return ensureOpen();
    }

    QString error() const override
    {
        std::lock_guard lock(m_mx);
        return m_error;
    }

    int inputCount() override { return refresh(m_inputs, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ); }
    bool inputName(int index, QString* name) override { return nameAt(m_inputs, index, name); }
    int outputCount() override { return refresh(m_outputs, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE); }
    bool outputName(int index, QString* name) override { return nameAt(m_outputs, index, name); }

    Handle open(int index, Callback callback, void* instance) override
    {
        std::lock_guard lock(m_mx);
        if (!m_seq || index < 0 || index >= int(m_inputs.size()) || !callback)
            return 0;
        const PortRef& p = m_inputs[size_t(index)];
        for (const OpenInput& o : m_open) {
            if (o.client == p.client && o.port == p.port)
                return 0;
        }
        if (snd_seq_connect_from(m_seq, m_port, p.client, p.port) < 0)
            return 0;
        OpenInput o;
        o.id = m_nextId++;
        o.client = p.client;
        o.port = p.port;
        o.callback = callback;
        o.instance = instance;
        m_open.push_back(o);
        return o.id;
    }

    bool start(Handle h) override
    {
        std::lock_guard lock(m_mx);
        OpenInput* o = find(h);
        if (o)
            o->started = true;
        return o != nullptr;
    }

    void stop(Handle h) override
    {
        std::lock_guard lock(m_mx);
        if (OpenInput* o = find(h))
            o->started = false;
    }

    void close(Handle h) override
    {
        std::lock_guard lock(m_mx);
        for (auto it = m_open.begin(); it != m_open.end(); ++it) {
            if (it->id == h) {
                snd_seq_disconnect_from(m_seq, m_port, it->client, it->port);
                m_open.erase(it);
                return;
            }
        }
    }

private:
    // Takes a fresh list of the ports with caps; the indices refer to it until the next refresh.
    int refresh(std::vector<PortRef>& list, unsigned caps)
    {
        std::lock_guard lock(m_mx);
        list = ensureOpen() ? listPorts(caps) : std::vector<PortRef>();
        return int(list.size());
    }

    bool nameAt(const std::vector<PortRef>& list, int index, QString* name) const
    {
        std::lock_guard lock(m_mx);
        if (index < 0 || index >= int(list.size()))
            return false;
        *name = list[size_t(index)].name;
        return true;
    }

    OpenInput* find(Handle h)
    {
        for (OpenInput& o : m_open) {
            if (o.id == h)
                return &o;
        }
        return nullptr;
    }

    // Opens the sequencer once; called with the lock held.
    bool ensureOpen()
    {
        if (m_tried)
            return m_seq != nullptr;
        m_tried = true;
        if (::access("/dev/snd/seq", F_OK) != 0) {
            m_error = QStringLiteral("the ALSA sequencer (/dev/snd/seq) is not present");
            return false;
        }
        snd_seq_t* seq = nullptr;
        int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
        if (err < 0) {
            m_error = QStringLiteral("cannot open the ALSA sequencer: %1").arg(QString::fromLocal8Bit(snd_strerror(err)));
            return false;
        }
        snd_seq_set_client_name(seq, "Tarvello Rododu");
        const int port = snd_seq_create_simple_port(seq, "Tarvello Rododu In",
                                                    SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0 || ::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
            m_error = QStringLiteral("cannot create the MIDI input port: %1")
                          .arg(QString::fromLocal8Bit(snd_strerror(port < 0 ? port : -errno)));
            snd_seq_close(seq);
            return false;
        }
        m_seq = seq;
        m_client = snd_seq_client_id(seq);
        m_port = port;
        m_reader = std::thread([this] { readLoop(); });
        return true;
    }

    // Ports of other clients that have all of caps; called with the lock held.
    std::vector<PortRef> listPorts(unsigned caps) const
    {
        std::vector<PortRef> out;
        snd_seq_client_info_t* ci = nullptr;
        snd_seq_port_info_t* pi = nullptr;
        snd_seq_client_info_alloca(&ci);
        snd_seq_port_info_alloca(&pi);
        snd_seq_client_info_set_client(ci, -1);
        while (snd_seq_query_next_client(m_seq, ci) >= 0) {
            const int client = snd_seq_client_info_get_client(ci);
            if (client == SND_SEQ_CLIENT_SYSTEM || client == m_client)
                continue;
            snd_seq_port_info_set_client(pi, client);
            snd_seq_port_info_set_port(pi, -1);
            while (snd_seq_query_next_port(m_seq, pi) >= 0) {
                const unsigned c = snd_seq_port_info_get_capability(pi);
                if ((c & caps) != caps || (c & SND_SEQ_PORT_CAP_NO_EXPORT))
                    continue;
                out.push_back({client, snd_seq_port_info_get_port(pi),
                               QString::fromUtf8(snd_seq_port_info_get_name(pi))});
            }
        }
        return out;
    }

    void readLoop()
    {
        std::vector<pollfd> fds;
        {
            std::lock_guard lock(m_mx);
            const int n = snd_seq_poll_descriptors_count(m_seq, POLLIN);
            fds.resize(size_t(n) + 1);
            snd_seq_poll_descriptors(m_seq, fds.data() + 1, unsigned(n), POLLIN);
        }
        fds[0] = {m_wake[0], POLLIN, 0};
        for (;;) {
            if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[0].revents)
                return;
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL))
                    return; // the sequencer went away; no more input
            }
            std::lock_guard lock(m_mx);
            snd_seq_event_t* ev = nullptr;
            for (;;) {
                const int r = snd_seq_event_input(m_seq, &ev);
                if (r == -ENOSPC)
                    continue; // overrun: what was lost is lost, go on with the rest
                if (r < 0 || !ev)
                    break;
                bool ok = false;
                const quint32 msg = toShortMessage(ev, &ok);
                if (!ok)
                    continue;
                // The callback only posts; it runs under the lock so that a
                // closed input can never be called after close() returned.
                for (const OpenInput& o : m_open) {
                    if (o.started && o.client == ev->source.client && o.port == ev->source.port)
                        o.callback(o.instance, msg);
                }
            }
        }
    }

    mutable std::mutex m_mx;
    snd_seq_t* m_seq = nullptr;
    int m_client = -1;
    int m_port = -1;
    bool m_tried = false;
    QString m_error;
    int m_wake[2] = {-1, -1};
    std::thread m_reader;
    std::vector<PortRef> m_inputs;
    std::vector<PortRef> m_outputs;
    std::vector<OpenInput> m_open;
    Handle m_nextId = 1;
};

} // namespace

MidiInputBackend* MidiInputBackend::system()
{
    static MidiInputBackend* s = new AlsaSeqMidi;
    return s;
}
