#pragma once

#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "Platform/VideoSessionFactory.hpp"
#include "Runtime/Bytes.hpp"

namespace quib::testing {

// An Annex-B stream of `units`, each after a 4-byte start code.
inline Bytes annexB(std::initializer_list<Bytes> units) {
    Bytes stream;
    for (const Bytes& unit : units) {
        stream.insert(stream.end(), {0, 0, 0, 1});
        stream.insert(stream.end(), unit.begin(), unit.end());
    }
    return stream;
}

// A session whose results the test plays, one at a time, for the oldest picture still waiting
// (on the test's thread, standing in for the session's). `close` answers whatever still waits
// with no picture, as a session that finishes its pictures would.
class FakeVideoSession final : public VideoSession {
public:
    struct Submission {
        std::shared_ptr<const PixelBuffer> picture;
        MonoTime presentationTime;
        bool keyframe = false;
    };

    FakeVideoSession(ViewFrame::Codec codec, int width, int height, const Rates& rates)
        : codec(codec), width(width), height(height), openRates(rates) {}

    void setRates(const Rates& rates) override {
        std::lock_guard guard(lock_);
        rateUpdates_.push_back(rates);
    }

    int submit(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime, bool keyframe,
               Handler handler) override {
        std::lock_guard guard(lock_);
        if (closed_) return -1;
        if (submitStatus != 0) return submitStatus;
        submissions_.push_back({std::move(picture), presentationTime, keyframe});
        waiting_.push_back(std::move(handler));
        return 0;
    }

    void close() override {
        std::deque<Handler> waiting;
        {
            std::lock_guard guard(lock_);
            closed_ = true;
            waiting.swap(waiting_);
        }
        for (auto& handler : waiting) handler(Result{});
    }

    // Answers the oldest waiting picture; false when none waits.
    bool answer(const Result& result) {
        Handler handler;
        {
            std::lock_guard guard(lock_);
            if (waiting_.empty()) return false;
            handler = std::move(waiting_.front());
            waiting_.pop_front();
        }
        handler(result);
        return true;
    }
    bool answerPicture(const Bytes& stream, bool isKeyframe) {
        Result result;
        result.picture = Picture{.data = stream, .isKeyframe = isKeyframe};
        return answer(result);
    }
    bool answerStatus(int status) {
        Result result;
        result.status = status;
        return answer(result);
    }
    bool answerDropped() {
        Result result;
        result.droppedFrame = true;
        return answer(result);
    }

    std::vector<Submission> submissions() const {
        std::lock_guard guard(lock_);
        return submissions_;
    }
    std::vector<Rates> rateUpdates() const {
        std::lock_guard guard(lock_);
        return rateUpdates_;
    }
    bool isClosed() const {
        std::lock_guard guard(lock_);
        return closed_;
    }

    const ViewFrame::Codec codec;
    const int width;
    const int height;
    const Rates openRates;
    int submitStatus = 0;  // non-zero: submissions fail with it

private:
    mutable std::mutex lock_;
    std::vector<Submission> submissions_;
    std::vector<Rates> rateUpdates_;
    std::deque<Handler> waiting_;
    bool closed_ = false;
};

// Opens fake sessions of any codec it is not told to refuse, and keeps them.
class FakeVideoSessionFactory final : public VideoSessionFactory {
public:
    std::shared_ptr<VideoSession> open(ViewFrame::Codec codec, int width, int height,
                                       const VideoSession::Rates& rates) override {
        std::lock_guard guard(lock_);
        if (refused.contains(codec)) return nullptr;
        opened_.push_back(std::make_shared<FakeVideoSession>(codec, width, height, rates));
        return opened_.back();
    }

    std::vector<std::shared_ptr<FakeVideoSession>> opened() const {
        std::lock_guard guard(lock_);
        return opened_;
    }
    std::shared_ptr<FakeVideoSession> last() const {
        std::lock_guard guard(lock_);
        return opened_.empty() ? nullptr : opened_.back();
    }

    std::set<ViewFrame::Codec> refused;

private:
    mutable std::mutex lock_;
    std::vector<std::shared_ptr<FakeVideoSession>> opened_;
};

}  // namespace quib::testing
