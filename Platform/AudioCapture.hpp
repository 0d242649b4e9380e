#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Platform/PcmBuffer.hpp"
#include "Runtime/Executor.hpp"

namespace quib {

// Records what the computer plays: its sound output as linear PCM.
class AudioCapture {
public:
    // One running capture. Stopping it, or letting go of the last reference, ends it; either may
    // block for a moment, so neither belongs on the queue the buffers are delivered on, nor in a
    // handler.
    class Stream {
    public:
        virtual ~Stream() = default;
        // After it returns no more buffers or stop reports are handed to the queue; those
        // already handed over still run. Safe to call more than once.
        virtual void stop() = 0;
    };

    // What a running capture calls, always as tasks on the queue given to `open`.
    struct Handlers {
        // One buffer of sound, in whatever format the source has; valid only during the call.
        std::function<void(const PcmBuffer& buffer)> onBuffer;
        // The capture ended without being asked to, for the reason given (a short description
        // of the error). Called at most once, and never after `stop`.
        std::function<void(const std::string& reason)> onStop;
    };

    // The outcome of an opening.
    struct Opening {
        enum class Status {
            running,           // `stream` records
            nothingToCapture,  // no sound server, no output device, or the device cannot be recorded
            failed,            // the recording could not start, for `reason`
        };
        Status status = Status::nothingToCapture;
        std::shared_ptr<Stream> stream;
        std::string reason;
    };
    using Opened = std::function<void(Opening opening)>;

    virtual ~AudioCapture() = default;

    // Whether the host may record the sound output; quick, never asks the user.
    virtual bool isPermitted() const = 0;
    // How the log names where the sound comes from ("PulseAudio").
    virtual std::string sourceName() const = 0;

    // Starts recording the output and returns at once. `opened` runs exactly once, on a thread
    // of the capture's choosing (possibly before `open` returns), with a running stream or why
    // there is none. Buffers may reach the queue before `opened` runs.
    virtual void open(std::shared_ptr<Executor> queue, Handlers handlers, Opened opened) = 0;
};

}  // namespace quib
