#include "hardware/midiinput.h"
#include "hardware/midioutput.h"

#include <gtest/gtest.h>

namespace hardware {
namespace {

// ---- OUT: decoding and recording ----

TEST(MidiOutputTest, ClassPacketsAreRecordedPerCable)
{
    MidiOutput out(0x01, MidiFormat::Class, 64);
    ASSERT_TRUE(out.Receive(MidiBytes{0x09, 0x90, 0x3C, 0x64, 0x1B, 0xB0, 0x07, 0x7F, 0x08, 0x80, 0x3C, 0x00}));
    EXPECT_EQ(out.Stream(0), (MidiBytes{0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00}));
    EXPECT_EQ(out.Stream(1), (MidiBytes{0xB0, 0x07, 0x7F}));
    EXPECT_EQ(out.Packets(1), (std::vector<MidiBytes>{{0x1B, 0xB0, 0x07, 0x7F}}));
    EXPECT_EQ(out.Packets(0).size(), 2u);
    EXPECT_EQ(out.Transfers().size(), 1u);
    EXPECT_TRUE(out.Faults().empty());
}

TEST(MidiOutputTest, AClassSysExAcrossPacketsIsOneMessage)
{
    MidiOutput out(0x01, MidiFormat::Class, 64);
    out.Receive(MidiBytes{0x24, 0xF0, 0x7E, 0x7F});
    out.Receive(MidiBytes{0x2F, 0xF8, 0x00, 0x00, 0x27, 0x06, 0x01, 0xF7});
    EXPECT_EQ(out.Messages(2), (std::vector<MidiBytes>{{0xF8}, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}));
}

struct StreamOutCase {
    const char* name;
    MidiFormat format;
    std::vector<MidiBytes> packets;
    MidiBytes stream;
};

class MidiOutputStreamTest : public testing::TestWithParam<StreamOutCase> {};

TEST_P(MidiOutputStreamTest, RecordsTheStreamWithRunningStatusExpanded)
{
    MidiOutput out(0x02, GetParam().format, 64);
    for (const MidiBytes& p : GetParam().packets) ASSERT_TRUE(out.Receive(p));
    EXPECT_EQ(out.Stream(), GetParam().stream);
    EXPECT_EQ(out.Transfers(), GetParam().packets);
    EXPECT_TRUE(out.Faults().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, MidiOutputStreamTest,
    testing::Values(
        StreamOutCase{"Raw", MidiFormat::Raw, {{0x90, 0x3C, 0x64, 0x3E}, {0x64}},
                      {0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64}},
        StreamOutCase{"RunningStatus", MidiFormat::RunningStatus, {{0x90, 0x3C, 0x64}, {0x3E, 0x64}},
                      {0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64}},
        StreamOutCase{"RunningStatusMerged", MidiFormat::RunningStatus, {{0x90, 0x3C, 0x64, 0x3E, 0x64}},
                      {0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64}},
        StreamOutCase{"Framed", MidiFormat::Framed, {{0x00, 0x03, 0x90, 0x3C, 0x64}, {0x00, 0x02, 0xC0, 0x05}},
                      {0x90, 0x3C, 0x64, 0xC0, 0x05}}),
    [](const testing::TestParamInfo<StreamOutCase>& info) { return info.param.name; });

TEST(MidiOutputTest, ATransferLongerThanAPacketIsDecodedPacketByPacket)
{
    MidiOutput out(0x07, MidiFormat::Framed, 4);
    out.Receive(MidiBytes{0x00, 0x02, 0xC0, 0x05, 0x00, 0x01, 0xF8});
    EXPECT_EQ(out.Transfers(), (std::vector<MidiBytes>{{0x00, 0x02, 0xC0, 0x05}, {0x00, 0x01, 0xF8}}));
    EXPECT_EQ(out.Stream(), (MidiBytes{0xC0, 0x05, 0xF8}));
}

TEST(MidiOutputTest, MalformedPacketsAreReportedAndStillRecorded)
{
    MidiOutput out(0x01, MidiFormat::Class, 64);
    out.Receive(MidiBytes{0x00, 0x90, 0x3C, 0x64, 0x09});
    EXPECT_EQ(out.Faults().size(), 2u);  // reserved code index, trailing byte
    EXPECT_EQ(out.Transfers(), (std::vector<MidiBytes>{{0x00, 0x90, 0x3C, 0x64, 0x09}}));
    EXPECT_TRUE(out.Stream().empty());
}

TEST(MidiOutputTest, WhileNotAnsweringNothingIsTakenAndTheRetriesAreCounted)
{
    MidiOutput out(0x02, MidiFormat::Raw, 64);
    int wakes = 0;
    out.SetWake([&] { ++wakes; });
    out.SetAnswering(false);
    EXPECT_FALSE(out.Receive(MidiBytes{0x90, 0x3C, 0x64}));
    EXPECT_FALSE(out.Receive(MidiBytes{0x90, 0x3C, 0x64}));
    EXPECT_EQ(out.Refused(), 2u);
    EXPECT_TRUE(out.Transfers().empty());
    EXPECT_EQ(wakes, 0);

    out.SetAnswering(true);
    EXPECT_EQ(wakes, 1);  // the held transfer is asked for again
    EXPECT_TRUE(out.Receive(MidiBytes{0x90, 0x3C, 0x64}));
    EXPECT_EQ(out.Stream(), (MidiBytes{0x90, 0x3C, 0x64}));
}

TEST(MidiOutputTest, ClearForgetsWhatWasRecorded)
{
    MidiOutput out(0x02, MidiFormat::Raw, 64);
    out.Receive(MidiBytes{0x90, 0x3C, 0x64, 0x3C});
    out.Clear();
    EXPECT_TRUE(out.Transfers().empty());
    EXPECT_TRUE(out.Messages().empty());
    out.Receive(MidiBytes{0x00});  // the decoder's running status survives a Clear
    EXPECT_EQ(out.Stream(), (MidiBytes{0x90, 0x3C, 0x00}));
}

// ---- IN: scripted packets and failures ----

struct Read {
    std::optional<ULONG> length;
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    MidiBytes bytes;
};

Read ReadOnce(MidiInput& in, size_t room = 64)
{
    MidiBytes buffer(room);
    Read r;
    r.length = in.Read(buffer, &r.status);
    if (r.length) r.bytes.assign(buffer.begin(), buffer.begin() + *r.length);
    return r;
}

// Every packet the endpoint has, until a read would stay pending.
std::vector<MidiBytes> ReadAll(MidiInput& in)
{
    std::vector<MidiBytes> packets;
    for (Read r = ReadOnce(in); r.length; r = ReadOnce(in)) packets.push_back(r.bytes);
    return packets;
}

TEST(MidiInputTest, WithNothingQueuedAReadStaysPending)
{
    MidiInput in(0x81, MidiFormat::Raw, 64);
    EXPECT_FALSE(ReadOnce(in).length.has_value());
}

TEST(MidiInputTest, QueuedPacketsGoOutAsGivenOnePerRead)
{
    MidiInput in(0x81, MidiFormat::Raw, 64);
    int wakes = 0;
    in.SetWake([&] { ++wakes; });
    in.QueuePacket({0x90, 0x3C});  // split mid-message
    in.QueuePacket({0x64});
    in.QueuePacket({});            // zero-length packet
    EXPECT_EQ(wakes, 3);
    EXPECT_EQ(ReadOnce(in).bytes, (MidiBytes{0x90, 0x3C}));
    EXPECT_EQ(ReadOnce(in).bytes, (MidiBytes{0x64}));
    const Read zero = ReadOnce(in);
    ASSERT_TRUE(zero.length.has_value());
    EXPECT_EQ(*zero.length, 0u);
    EXPECT_FALSE(ReadOnce(in).length.has_value());
    EXPECT_EQ(in.Delivered().size(), 3u);
}

TEST(MidiInputTest, APacketLongerThanTheReadGoesOutOverSeveralReads)
{
    MidiInput in(0x81, MidiFormat::Raw, 64);
    in.QueuePacket({1, 2, 3, 4, 5});
    EXPECT_EQ(ReadOnce(in, 2).bytes, (MidiBytes{1, 2}));
    EXPECT_EQ(ReadOnce(in, 2).bytes, (MidiBytes{3, 4}));
    EXPECT_EQ(ReadOnce(in, 2).bytes, (MidiBytes{5}));
    EXPECT_EQ(in.Queued(), 0u);
}

TEST(MidiInputTest, FailedReadsReportTheChosenStatusThenReadsResume)
{
    MidiInput in(0x81, MidiFormat::Raw, 64);
    in.QueuePacket({0xF8});
    in.FailReads(USBD_STATUS_STALL_PID, 2);
    for (int i = 0; i < 2; ++i) {
        const Read r = ReadOnce(in);
        EXPECT_FALSE(r.length.has_value());
        EXPECT_EQ(r.status, USBD_STATUS_STALL_PID);
    }
    EXPECT_EQ(ReadOnce(in).bytes, (MidiBytes{0xF8}));  // nothing was lost
    EXPECT_EQ(in.FailedReads(), 2u);
}

TEST(MidiInputTest, FailingUntilStopped)
{
    MidiInput in(0x81, MidiFormat::Raw, 64);
    in.FailReads(USBD_STATUS_DEV_NOT_RESPONDING);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ReadOnce(in).status, USBD_STATUS_DEV_NOT_RESPONDING);
    in.StopFailing();
    in.QueuePacket({0xFE});
    EXPECT_EQ(ReadOnce(in).status, USBD_STATUS_SUCCESS);
}

struct SendCase {
    const char* name;
    MidiFormat format;
    uint8_t cable;
    MidiBytes bytes;
    std::vector<MidiBytes> packets;
};

class MidiInputSendTest : public testing::TestWithParam<SendCase> {};

TEST_P(MidiInputSendTest, EncodesInTheEndpointsFormat)
{
    MidiInput in(0x82, GetParam().format, 64);
    in.Send(GetParam().bytes, GetParam().cable);
    EXPECT_EQ(ReadAll(in), GetParam().packets);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, MidiInputSendTest,
    testing::Values(
        SendCase{"Class", MidiFormat::Class, 2, {0xB0, 0x07, 0x7F, 0x07, 0x00}, {{0x2B, 0xB0, 0x07, 0x7F, 0x2B, 0xB0, 0x07, 0x00}}},
        SendCase{"Raw", MidiFormat::Raw, 0, {0x90, 0x3C, 0x64, 0x3E, 0x64}, {{0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64}}},
        SendCase{"RunningStatus", MidiFormat::RunningStatus, 0, {0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64},
                 {{0x90, 0x3C, 0x64, 0x3E, 0x64}}},
        SendCase{"Framed", MidiFormat::Framed, 0, {0x90, 0x3C, 0x64}, {{0x04, 0x00, 0x90, 0x3C, 0x64}}}),
    [](const testing::TestParamInfo<SendCase>& info) { return info.param.name; });

TEST(MidiInputTest, SendingOnACableTheFormatCannotAddressIsRefused)
{
    MidiInput in(0x81, MidiFormat::Raw, 64);
    EXPECT_THROW(in.Send(MidiBytes{0xF8}, 1), std::invalid_argument);
    EXPECT_EQ(in.Queued(), 0u);
}

TEST(MidiInputTest, SendingMalformedBytesIsRefused)
{
    MidiInput in(0x82, MidiFormat::Class, 64);
    EXPECT_THROW(in.Send(MidiBytes{0x3C, 0x64}), std::invalid_argument);
    EXPECT_EQ(in.Queued(), 0u);
}

TEST(MidiInputTest, AHostThatNeverReadsCannotGrowTheQueueWithoutBound)
{
    MidiInput in(0x81, MidiFormat::Raw, 64);
    for (size_t i = 0; i < MidiInput::kQueueLimit + 3; ++i) in.QueuePacket({0xF8});
    EXPECT_EQ(in.Queued(), MidiInput::kQueueLimit);
    EXPECT_EQ(in.DroppedPackets(), 3u);
}

// ---- Echo ----

struct EchoCase {
    const char* name;
    MidiFormat format;
    MidiBytes sent;                 // one OUT packet
    std::vector<MidiBytes> echoed;  // IN packets
};

class MidiEchoTest : public testing::TestWithParam<EchoCase> {};

TEST_P(MidiEchoTest, ReceivedMessagesComeBackInTheInFormat)
{
    MidiOutput out(0x01, GetParam().format, 64);
    MidiInput in(0x82, GetParam().format, 64);
    out.EchoTo(&in);
    out.Receive(GetParam().sent);
    EXPECT_EQ(ReadAll(in), GetParam().echoed);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, MidiEchoTest,
    testing::Values(
        EchoCase{"ClassKeepsTheCable", MidiFormat::Class, {0x29, 0x90, 0x3C, 0x64, 0x0C, 0xC2, 0x05, 0x00},
                 {{0x29, 0x90, 0x3C, 0x64}, {0x0C, 0xC2, 0x05, 0x00}}},
        EchoCase{"RawExpandsRunningStatus", MidiFormat::Raw, {0x90, 0x3C, 0x64, 0x3E, 0x64},
                 {{0x90, 0x3C, 0x64, 0x90, 0x3E, 0x64}}},
        EchoCase{"RunningStatus", MidiFormat::RunningStatus, {0x90, 0x3C, 0x64, 0x3E, 0x64},
                 {{0x90, 0x3C, 0x64, 0x3E, 0x64}}},
        EchoCase{"Framed", MidiFormat::Framed, {0x00, 0x03, 0x90, 0x3C, 0x64}, {{0x04, 0x00, 0x90, 0x3C, 0x64}}}),
    [](const testing::TestParamInfo<EchoCase>& info) { return info.param.name; });

TEST(MidiEchoTest, AMessageSplitAcrossPacketsIsEchoedOnceComplete)
{
    MidiOutput out(0x02, MidiFormat::Raw, 64);
    MidiInput in(0x81, MidiFormat::Raw, 64);
    out.EchoTo(&in);
    out.Receive(MidiBytes{0x90, 0x3C});
    EXPECT_EQ(in.Queued(), 0u);
    out.Receive(MidiBytes{0x64});
    EXPECT_EQ(ReadOnce(in).bytes, (MidiBytes{0x90, 0x3C, 0x64}));
}

TEST(MidiEchoTest, OffAgainNothingComesBack)
{
    MidiOutput out(0x02, MidiFormat::Raw, 64);
    MidiInput in(0x81, MidiFormat::Raw, 64);
    out.EchoTo(&in);
    out.EchoTo(nullptr);
    out.Receive(MidiBytes{0xF8});
    EXPECT_EQ(in.Queued(), 0u);
}

}  // namespace
}  // namespace hardware
