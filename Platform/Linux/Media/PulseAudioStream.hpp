#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Platform/AudioCapture.hpp"
#include "Platform/Linux/Media/PcmBlockPool.hpp"
#include "Runtime/Mutex.hpp"

struct pa_context;
struct pa_operation;
struct pa_stream;
struct pa_threaded_mainloop;

namespace quib {

// A recording of the sound server's default output: its own connection to the server, on a
// libpulse threaded main loop, recording the monitor source that the server names for the
// default sink. It records 32-bit float, 48000 Hz stereo in 10 ms fragments, hands each
// fragment to the queue in blocks of at most 1024 frames, and reports a stop when the server
// goes away, the recording fails, or the default sink changes (the next opening then records the
// new one).
class PulseAudioStream final : public AudioCapture::Stream {
public:
    static constexpr std::size_t maxFramesPerBuffer = 1024;
    static constexpr std::uint32_t fragmentBytes = 3840;  // 10 ms

    // Connects and starts recording; blocks until it records or cannot. Never starts a server:
    // the server is the one the environment names (PULSE_SERVER, or the user's default).
    static AudioCapture::Opening open(std::shared_ptr<Executor> queue, AudioCapture::Handlers handlers);

    ~PulseAudioStream() override;
    PulseAudioStream(const PulseAudioStream&) = delete;
    PulseAudioStream& operator=(const PulseAudioStream&) = delete;

    void stop() override;

    // The source recorded, as the server named it.
    const std::string& source() const { return source_; }

private:
    struct Passkey {};
    class LoopLock;

public:
    PulseAudioStream(Passkey, std::shared_ptr<Executor> queue, AudioCapture::Handlers handlers);

private:
    AudioCapture::Opening connect();
    bool connectContext();
    std::string defaultSink();
    std::string monitorOf(const std::string& sink);
    bool record(const std::string& source);
    bool await(pa_operation* operation);
    std::string lastError() const;

    void collect(const std::uint8_t* data, std::size_t bytes);
    void handOver();
    void reportStop(const std::string& reason);

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onReadable(pa_stream* stream, std::size_t bytes, void* self);
    static void onServerEvent(pa_context* context, int event, std::uint32_t index, void* self);

    std::shared_ptr<Executor> queue_;
    std::shared_ptr<const AudioCapture::Handlers> handlers_;
    std::shared_ptr<PcmBlockPool> pool_;

    // One stop at a time. `loop_` is set before any callback can run and read by them without
    // it, so it is not marked GUARDED_BY it.
    Mutex stopMutex_;
    pa_threaded_mainloop* loop_ = nullptr;
    // Under the main loop's lock:
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::string sink_;
    std::string source_;
    bool recording_ = false;  // opened; from now on failures are stops
    bool stopping_ = false;
    bool stopReported_ = false;
    std::shared_ptr<PcmBlockPool::Block> filling_;  // the buffer being gathered
    std::size_t filled_ = 0;                        // its bytes so far
};

}  // namespace quib
