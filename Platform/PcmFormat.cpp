#include "Platform/PcmFormat.hpp"

namespace quib {

bool PcmFormat::isValid() const {
    return sampleRate >= 1 && sampleRate <= 768000 && channels >= 1 && channels <= maxChannels;
}

std::size_t PcmFormat::bytesPerFramePerPlane() const {
    return interleaved ? bytesPerSample() * static_cast<std::size_t>(channels) : bytesPerSample();
}

std::string PcmFormat::description() const {
    return std::to_string(sampleRate) + " Hz, " + std::to_string(channels) + " ch, " +
           (sample == Sample::float32 ? "float32" : "int16") + (interleaved ? ", interleaved" : ", planar");
}

}  // namespace quib
