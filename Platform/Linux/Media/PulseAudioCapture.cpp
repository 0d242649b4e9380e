#include "Platform/Linux/Media/PulseAudioCapture.hpp"

#include "Platform/Linux/Media/PulseAudioStream.hpp"

namespace quib {

PulseAudioCapture::PulseAudioCapture() : connecting_("com.brenmoor.quib.host.audio.connect") {}

void PulseAudioCapture::open(std::shared_ptr<Executor> queue, Handlers handlers, Opened opened) {
    connecting_.post([queue = std::move(queue), handlers = std::move(handlers), opened = std::move(opened)]() mutable {
        opened(PulseAudioStream::open(std::move(queue), std::move(handlers)));
    });
}

}  // namespace quib
