#include "Platform/Linux/Media/PulseAudioStream.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace quib {

namespace {

constexpr PcmFormat kFormat{48000, 2, PcmFormat::Sample::float32, true};
constexpr std::size_t kFrameBytes = 8;
// About five seconds of blocks waiting for the queue; beyond that fragments are dropped.
constexpr std::size_t kMaxBlocksOut = 256;

}  // namespace

// The main loop's lock, held for a scope: libpulse objects are touched only under it, off the
// loop's thread, and its callbacks run with it held.
class PulseAudioStream::LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

PulseAudioStream::PulseAudioStream(Passkey, std::shared_ptr<Executor> queue, AudioCapture::Handlers handlers)
    : queue_(std::move(queue)),
      handlers_(std::make_shared<const AudioCapture::Handlers>(std::move(handlers))),
      pool_(std::make_shared<PcmBlockPool>(maxFramesPerBuffer * kFrameBytes, kMaxBlocksOut)) {}

PulseAudioStream::~PulseAudioStream() { stop(); }

AudioCapture::Opening PulseAudioStream::open(std::shared_ptr<Executor> queue, AudioCapture::Handlers handlers) {
    auto stream = std::make_shared<PulseAudioStream>(Passkey{}, std::move(queue), std::move(handlers));
    AudioCapture::Opening opening = stream->connect();
    if (opening.status == AudioCapture::Opening::Status::running) opening.stream = std::move(stream);
    return opening;
}

AudioCapture::Opening PulseAudioStream::connect() {
    using Status = AudioCapture::Opening::Status;
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) return {Status::failed, nullptr, "the sound server's main loop could not be made"};
    pa_threaded_mainloop_set_name(loop_, "quib-audio");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Quib");
    if (context_ == nullptr) return {Status::failed, nullptr, "the sound server's context could not be made"};
    pa_context_set_state_callback(context_, &PulseAudioStream::onContextState, this);
    if (pa_threaded_mainloop_start(loop_) < 0)
        return {Status::failed, nullptr, "the sound server's main loop did not start"};

    LoopLock lock(loop_);
    if (!connectContext()) return {Status::nothingToCapture, nullptr, lastError()};
    sink_ = defaultSink();
    if (sink_.empty()) return {Status::nothingToCapture, nullptr, "no default output"};
    const std::string monitor = monitorOf(sink_);
    if (monitor.empty()) return {Status::nothingToCapture, nullptr, "the default output has no monitor"};
    if (!record(monitor)) return {Status::failed, nullptr, lastError()};

    pa_context_set_subscribe_callback(
        context_,
        [](pa_context* context, pa_subscription_event_type_t event, std::uint32_t index, void* self) {
            onServerEvent(context, static_cast<int>(event), index, self);
        },
        this);
    if (pa_operation* subscribing = pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
        pa_operation_unref(subscribing);
    recording_ = true;
    return {Status::running, nullptr, {}};
}

// Never autospawned: a host that finds no server has nothing to capture.
bool PulseAudioStream::connectContext() {
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) return true;
        if (!PA_CONTEXT_IS_GOOD(state)) return false;
        pa_threaded_mainloop_wait(loop_);
    }
}

// Waits for `operation` to end, with the loop's lock held; false when it could not start.
bool PulseAudioStream::await(pa_operation* operation) {
    if (operation == nullptr) return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(operation);
    return true;
}

namespace {

// What an information request gives back to the thread that waits for it.
struct Reply {
    pa_threaded_mainloop* loop;
    std::string name;
};

}  // namespace

std::string PulseAudioStream::defaultSink() {
    Reply reply{loop_, {}};
    const bool asked = await(pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* reply = static_cast<Reply*>(userdata);
            if (info != nullptr && info->default_sink_name != nullptr) reply->name = info->default_sink_name;
            pa_threaded_mainloop_signal(reply->loop, 0);
        },
        &reply));
    return asked ? reply.name : std::string();
}

// The monitor as the server names it: usually the sink's name and ".monitor", but not always.
std::string PulseAudioStream::monitorOf(const std::string& sink) {
    Reply reply{loop_, {}};
    const bool asked = await(pa_context_get_sink_info_by_name(
        context_, sink.c_str(),
        [](pa_context*, const pa_sink_info* info, int, void* userdata) {
            auto* reply = static_cast<Reply*>(userdata);
            if (info != nullptr && info->monitor_source_name != nullptr) reply->name = info->monitor_source_name;
            pa_threaded_mainloop_signal(reply->loop, 0);
        },
        &reply));
    return asked ? reply.name : std::string();
}

// Asks for 10 ms fragments and adjusts the server's latency to them (by default it may buffer
// up to two seconds). The stream is never moved: when its source goes, it fails and the next
// opening takes the new default, rather than whatever source the server would move it to.
bool PulseAudioStream::record(const std::string& source) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(kFormat.sampleRate),
                              static_cast<std::uint8_t>(kFormat.channels)};
    stream_ = pa_stream_new(context_, "Sound output", &spec, nullptr);
    if (stream_ == nullptr) return false;
    pa_stream_set_state_callback(stream_, &PulseAudioStream::onStreamState, this);
    pa_stream_set_read_callback(stream_, &PulseAudioStream::onReadable, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = fragmentBytes;
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source.c_str(), &attributes, flags) < 0) return false;
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY) break;
        if (!PA_STREAM_IS_GOOD(state)) return false;
        pa_threaded_mainloop_wait(loop_);
    }
    if (const char* name = pa_stream_get_device_name(stream_)) source_ = name;
    return true;
}

std::string PulseAudioStream::lastError() const { return pa_strerror(pa_context_errno(context_)); }

void PulseAudioStream::stop() {
    MutexLock stopping(stopMutex_);
    if (loop_ == nullptr) return;
    {
        LoopLock lock(loop_);
        stopping_ = true;
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

void PulseAudioStream::reportStop(const std::string& reason) {
    if (!recording_ || stopping_ || stopReported_) return;
    stopReported_ = true;
    queue_->post([handlers = handlers_, reason] { handlers->onStop(reason); });
}

// Appends `bytes` of interleaved frames (silence when `data` is null: a hole in the recording) to
// the block being filled, handing each block to the queue once it holds maxFramesPerBuffer.
void PulseAudioStream::collect(const std::uint8_t* data, std::size_t bytes) {
    while (bytes > 0) {
        if (!filling_) {
            filling_ = pool_->take();
            filled_ = 0;
            // A consumer five seconds behind: this piece is dropped rather than memory grown.
            if (!filling_) return;
        }
        const std::size_t length = std::min(bytes, filling_->size() - filled_);
        if (data != nullptr) {
            std::memcpy(filling_->data() + filled_, data, length);
            data += length;
        } else {
            std::memset(filling_->data() + filled_, 0, length);
        }
        filled_ += length;
        bytes -= length;
        if (filled_ == filling_->size()) handOver();
    }
}

// Hands the block being filled, with its whole frames, to the queue.
void PulseAudioStream::handOver() {
    auto block = std::move(filling_);
    const auto frames = static_cast<std::int64_t>(filled_ / kFrameBytes);
    filled_ = 0;
    if (!block || frames == 0) return;
    queue_->post([handlers = handlers_, block = std::move(block), frames] {
        const std::array<const std::uint8_t*, 1> planes{block->data()};
        handlers->onBuffer(PcmBuffer{kFormat, frames, planes});
    });
}

void PulseAudioStream::onContextState(pa_context* context, void* self) {
    auto* stream = static_cast<PulseAudioStream*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) stream->reportStop(pa_strerror(pa_context_errno(context)));
    pa_threaded_mainloop_signal(stream->loop_, 0);
}

void PulseAudioStream::onStreamState(pa_stream* recorded, void* self) {
    auto* stream = static_cast<PulseAudioStream*>(self);
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(recorded))) stream->reportStop(stream->lastError());
    pa_threaded_mainloop_signal(stream->loop_, 0);
}

// What is readable arrives in pieces of the server's own size (a few frames, sometimes); they
// are gathered into buffers, and what has arrived by the end of the call goes out.
void PulseAudioStream::onReadable(pa_stream* recorded, std::size_t, void* self) {
    auto* stream = static_cast<PulseAudioStream*>(self);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(recorded, &data, &bytes) < 0) {
            stream->reportStop(stream->lastError());
            break;
        }
        if (bytes == 0) break;
        stream->collect(static_cast<const std::uint8_t*>(data), bytes);
        pa_stream_drop(recorded);
    }
    stream->handOver();
}

// A change of the server's settings may be a new default sink: this recording then stops, so
// that the next opening records the new one.
void PulseAudioStream::onServerEvent(pa_context* context, int event, std::uint32_t, void* self) {
    if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SERVER) return;
    pa_operation* asking = pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* stream = static_cast<PulseAudioStream*>(userdata);
            if (info == nullptr || stream->stopping_) return;
            const std::string now = info->default_sink_name != nullptr ? info->default_sink_name : "";
            if (now != stream->sink_) stream->reportStop("the default output changed");
        },
        self);
    if (asking != nullptr) pa_operation_unref(asking);
}

}  // namespace quib
