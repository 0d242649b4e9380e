// Feeds the input to an upload as its frames, in reads whose sizes the input's first bytes
// choose, and to a bare frame reader with a small cap. The upload must complete with its images
// in index order or end refused, and whatever way it ends it leaves in the inbox only the files
// of a completed batch; the reader never holds more than one unfinished frame, and the streaming
// reader the upload uses cuts exactly its frames.
#include <unistd.h>

#include <filesystem>

#include "FuzzSupport.hpp"
#include "QuibHost/Targets/UploadSession.hpp"
#include "Runtime/Clock.hpp"
#include "Shared/LengthPrefixedStreamer.hpp"

namespace {

using namespace quib;
namespace fs = std::filesystem;

std::size_t filesIn(const fs::path& folder) {
    std::error_code error;
    if (!fs::exists(folder, error)) return 0;
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// What the streaming reader hands on, put back together frame by frame.
struct Gathered final : LengthPrefixedStreamer::Sink {
    void begin(std::string_view header, std::uint32_t) override { current = {std::string(header), {}}; }
    void payload(std::string_view piece) override {
        current.payload.insert(current.payload.end(), piece.begin(), piece.end());
    }
    bool end() override {
        pieces.push_back(std::move(current));
        return true;
    }
    LengthPrefixedCutter::Piece current;
    std::vector<LengthPrefixedCutter::Piece> pieces;
};

void checkReader(std::string_view stream, std::size_t step, std::int64_t cap) {
    AttachmentFrameReader reader(cap);
    LengthPrefixedCutter cutter(cap);
    LengthPrefixedStreamer streamer(cap);
    Gathered gathered;
    for (std::size_t at = 0; at < stream.size(); at += step) {
        for (const auto& frame : reader.append(stream.substr(at, step))) {
            fuzz::require(std::ssize(frame.payload) <= cap);
            auto header = QuibCoder::encode(frame.header);
            fuzz::require(header.ok() && QuibCoder::decode<AttachmentFrame>(*header).ok());
        }
        fuzz::require(reader.bufferedBytes() <= static_cast<std::size_t>(8 + 2 * cap));
        // The streaming reader cuts exactly the buffering one's frames and damage.
        const auto cut = cutter.append(stream.substr(at, step));
        gathered.pieces.clear();
        streamer.append(stream.substr(at, step), gathered);
        fuzz::require(gathered.pieces.size() == cut.size() && streamer.takeDesync() == cutter.takeDesync());
        for (std::size_t i = 0; i < cut.size(); ++i)
            fuzz::require(gathered.pieces[i].header == cut[i].header && gathered.pieces[i].payload == cut[i].payload);
        fuzz::require(streamer.bufferedBytes() <= static_cast<std::size_t>(8 + cap));
    }
}

void checkUpload(std::string_view stream, std::size_t step, std::int64_t count) {
    static const fs::path home = fs::temp_directory_path() / ("quib-fuzz-upload-" + std::to_string(::getpid()));
    static const auto inbox = std::make_shared<AttachmentInbox>(
        AttachmentInbox::Config{.dataHome = home, .clock = std::make_shared<SystemClock>()});
    const fs::path folder = home / "Quib" / "inbox";
    fs::remove_all(folder);

    AttachmentManifest manifest;
    manifest.count = count;
    manifest.targetIDs = {"T-1"};
    UploadSession session(manifest, "BATCH", inbox);
    std::vector<UploadAttachment> completed;
    bool refused = false;
    for (std::size_t at = 0; at < stream.size() && !session.isOver(); at += step) {
        auto progress = session.append(stream.substr(at, step));
        if (progress.kind == UploadSession::Progress::Kind::complete) completed = std::move(progress.attachments);
        if (progress.kind == UploadSession::Progress::Kind::refused) {
            fuzz::require(!progress.message.empty());
            refused = true;
        }
    }
    if (!completed.empty()) {
        fuzz::require(std::ssize(completed) == count && session.isOver() && !refused);
        for (const auto& attachment : completed) fuzz::require(fs::is_regular_file(attachment.file));
    } else {
        fuzz::require(session.isOver() == refused);
        session.abandon();
    }
    // Only a completed batch's files stay; a refused or abandoned upload leaves nothing behind.
    fuzz::require(filesIn(folder) == completed.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    if (size < 2) return 0;
    const std::int64_t count = 1 + data[0] % 3;
    const std::size_t step = 1 + data[1] % 61;
    const std::string_view stream = fuzz::text(data + 2, size - 2);
    checkReader(stream, step, 1 + data[0] * 4);
    checkUpload(stream, step, count);
    return 0;
}
