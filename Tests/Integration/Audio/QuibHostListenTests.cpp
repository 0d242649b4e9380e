// Listen channels against the real quib-host, headless, recording a sound server of each test's
// own while a tone plays into its default sink.

#include <gtest/gtest.h>

#include "Tests/Audio/PrivatePulseServer.hpp"
#include "Tests/Audio/TonePlayer.hpp"
#include "Tests/Support/ListenChannel.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ToneFrequency.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::ListenChannel;
using testing::TempHome;

const std::string kNotAllowed = "This computer is set not to send its audio";

// A host whose sound server plays a 440 Hz tone, with Ada's phone approved before it starts.
class ListeningHost {
public:
    ListeningHost() {
        pulse = testing::PrivatePulseServer::start();
        if (!pulse) return;
        tone = std::make_unique<testing::TonePlayer>(std::nullopt, pulse->address());
        testing::approveBeforeStart(home, {testing::adasPhone});
        host = HostProcess::start(home, std::nullopt, {{"PULSE_SERVER", pulse->address()}});
    }

    std::unique_ptr<ListenChannel> listen(const testing::PhoneIdentity& phone = testing::adasPhone) {
        return ListenChannel::open(testing::phoneOptions(*host, host->pairingCode()),
                                   ListenHelloPayload::make(23, phone.name, phone.deviceID, false));
    }

    TempHome home;
    std::unique_ptr<testing::PrivatePulseServer> pulse;
    std::unique_ptr<testing::TonePlayer> tone;
    std::unique_ptr<HostProcess> host;
};

// Audio frames numbered one more each time, from `first` on.
void expectNumberedOn(const std::vector<ListenChannel::Frame>& frames, std::uint32_t first) {
    for (std::size_t n = 0; n < frames.size(); ++n) EXPECT_EQ(frames[n].header.sequence, first + n) << "frame " << n;
}

std::size_t audioFrames(const std::vector<ListenChannel::Frame>& frames) {
    return static_cast<std::size_t>(std::count_if(
        frames.begin(), frames.end(), [](const auto& frame) { return frame.header.kind == AudioFrame::Kind::audio; }));
}

// The monitor of an idle sink may take two seconds to start; then a second and more of the tone.
TEST(QuibHost, AnApprovedListenChannelHearsTheToneInNumberedFramesThatDescribeFirst) {
    ListeningHost listening;
    ASSERT_TRUE(listening.host);
    auto channel = listening.listen();
    ASSERT_TRUE(channel);
    ASSERT_TRUE(channel->readUntil([](const auto& frames) { return audioFrames(frames) >= 60; }, 10s))
        << listening.tone->failure() << listening.host->log();
    const auto frames = channel->audio();
    EXPECT_EQ(frames.size(), channel->frames().size()) << "a state frame came:\n" << listening.host->log();
    const AudioFrame& first = frames.front().header;
    EXPECT_EQ(first.codec, AudioFrame::Codec::aac);
    EXPECT_EQ(first.sampleRate, 48000);
    EXPECT_EQ(first.channels, 2);
    EXPECT_EQ(first.framesPerPacket, 1024);
    EXPECT_EQ(first.sequence, 1u);
    expectNumberedOn(frames, 1);
    EXPECT_FALSE(frames[1].header.codec || frames[1].header.sampleRate);

    testing::AdtsDecoder decoder;
    ListenChannel::decode(frames, decoder);
    ASSERT_GE(decoder.left().size(), 24000u);
    const auto frequency = testing::toneFrequency(std::span(decoder.left()).last(24000), 48000);
    ASSERT_TRUE(frequency);
    EXPECT_NEAR(*frequency, testing::TonePlayer::frequency, 5.0);
}

// Off: the state, then no more sound. On: sound again, numbered on from where it stopped (the
// frames dropped at the stop leave a gap), never from 1.
TEST(QuibHost, ListenOffSaysSoAndStopsTheSoundAndListenOnBringsItBackNumberedOn) {
    ListeningHost listening;
    ASSERT_TRUE(listening.host);
    auto channel = listening.listen();
    ASSERT_TRUE(channel);
    ASSERT_TRUE(channel->readUntil([](const auto& frames) { return audioFrames(frames) >= 10; }, 10s))
        << listening.host->log();

    const auto off = testing::quibctl(listening.home, {"listen", "off"});
    EXPECT_EQ(off.status, 0) << off.err;
    EXPECT_NE(off.out.find("Phones may not listen"), std::string::npos);
    ASSERT_TRUE(channel->readUntil(
        [](const auto& frames) { return frames.back().header.kind == AudioFrame::Kind::state; }, 5s));
    EXPECT_EQ(channel->states(), std::vector<std::string>{kNotAllowed});
    const auto beforeOff = channel->audio();
    expectNumberedOn(beforeOff, 1);
    channel->readFor(1s);
    EXPECT_EQ(channel->audio().size(), beforeOff.size()) << "sound came after the state";
    EXPECT_TRUE(testing::eventuallyShows(listening.home, {"status"}, "Phones may listen: no"));

    const auto on = testing::quibctl(listening.home, {"listen", "on"});
    EXPECT_EQ(on.status, 0) << on.err;
    const auto heard = beforeOff.size();
    ASSERT_TRUE(channel->readUntil([&](const auto& frames) { return audioFrames(frames) >= heard + 10; }, 10s))
        << listening.host->log();
    const auto all = channel->audio();
    const std::vector<ListenChannel::Frame> after(all.begin() + static_cast<std::ptrdiff_t>(heard), all.end());
    EXPECT_GT(*after.front().header.sequence, *beforeOff.back().header.sequence);
    expectNumberedOn(after, *after.front().header.sequence);
    EXPECT_TRUE(testing::eventuallyShows(listening.home, {"status"}, "Phones may listen: yes"));
    // A phone is listed by its control connection, and marked while it has a listen channel.
    const auto control = testing::welcomed(*listening.host);
    ASSERT_TRUE(control.phone);
    EXPECT_TRUE(testing::eventuallyShows(listening.home, {"devices"}, "approved, connected, hearing this computer"));
}

TEST(QuibHost, AnUnapprovedListenHelloIsToldToWaitForApprovalInTheMenuBar) {
    TempHome home;
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);
    auto phone = testing::connectPhone(testing::phoneOptions(*host, host->pairingCode()));
    ASSERT_TRUE(phone);
    const Json hello{
        {"listenHello", {{"_0", {{"protocolVersion", 23}, {"deviceName", "Stranger"}, {"deviceID", "X"}}}}}};
    ASSERT_TRUE(phone->sendLine(hello.dump()));
    const auto error = phone->receiveCase("error", 10s);
    ASSERT_TRUE(error) << error.error().message;
    EXPECT_EQ((*error)["_0"], "Waiting for approval on " + host->name() + " \u2014 open the Quib panel");
    EXPECT_TRUE(phone->waitForClose(5s));
}

}  // namespace
}  // namespace quib
