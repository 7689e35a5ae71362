// Pin connection (fully specified, partial and absent types, refusals, direction),
// allocator negotiation, and the media type enumerator.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/com_ptr.h"
#include "test_filters.h"

namespace {

using namespace testfilters;

// A YUY2 64x48 type whose frame duration is 400000 + delta: equal to the source's type
// for delta 1, yet distinguishable from it.
CMediaType Yuy2(REFERENCE_TIME delta = 0) {
    CMediaType type = VideoType(MEDIASUBTYPE_YUY2, 64, 48);
    reinterpret_cast<VIDEOINFOHEADER*>(type.Format())->AvgTimePerFrame += delta;
    return type;
}

class PinConnection : public ::testing::Test {
protected:
    PinConnection() : m_type(Yuy2()), m_pair(m_type) {}

    // The connection type as seen by pin; VFW_E_NOT_CONNECTED leaves it zeroed.
    HRESULT ConnectionType(IPin* pin, CMediaType* type) {
        AM_MEDIA_TYPE mt;
        const HRESULT hr = pin->ConnectionMediaType(&mt);
        if (SUCCEEDED(hr)) {
            *type = mt;
            FreeMediaType(mt);
        } else {
            EXPECT_EQ(mt.cbFormat, 0u);
            EXPECT_EQ(mt.pbFormat, nullptr);
        }
        return hr;
    }

    // What pin is connected to; null when it is not.
    static ComPtr<IPin> Peer(IPin* pin) {
        IPin* other = pin;
        const HRESULT hr = pin->ConnectedTo(&other);
        EXPECT_EQ(hr, other ? S_OK : VFW_E_NOT_CONNECTED);
        return ComPtr<IPin>::Adopt(other);
    }

    void ExpectUnconnected() {
        EXPECT_FALSE(Peer(m_pair.Out()));
        EXPECT_FALSE(Peer(m_pair.In()));
        CMediaType type;
        EXPECT_EQ(ConnectionType(m_pair.Out(), &type), VFW_E_NOT_CONNECTED);
        EXPECT_EQ(m_pair.Stream->Allocator(), nullptr);
    }

    // The frame duration of the receiver's connection type.
    REFERENCE_TIME ConnectedDuration() {
        CMediaType type;
        EXPECT_EQ(ConnectionType(m_pair.In(), &type), S_OK);
        return type.Format()
                   ? reinterpret_cast<const VIDEOINFOHEADER*>(type.Format())->AvgTimePerFrame
                   : -1;
    }

    void DisconnectBoth() {
        EXPECT_EQ(m_pair.Out()->Disconnect(), S_OK);
        EXPECT_EQ(m_pair.In()->Disconnect(), S_OK);
    }

    CMediaType m_type;
    FilterPair m_pair;
};

TEST_F(PinConnection, FullySpecifiedType_IsTriedAloneAndConnectsBothPins) {
    // The receiver's own preference must not be consulted for a complete type.
    m_pair.Sink->Pin().Preferred.push_back(Yuy2(1));
    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    EXPECT_EQ(m_pair.Sink->Pin().Checked(), 1);

    EXPECT_EQ(Peer(m_pair.Out()), m_pair.In());
    EXPECT_EQ(Peer(m_pair.In()), m_pair.Out());
    CMediaType outType;
    ASSERT_EQ(ConnectionType(m_pair.Out(), &outType), S_OK);
    EXPECT_TRUE(outType == m_type);
    EXPECT_EQ(ConnectedDuration(), 400000);

    EXPECT_EQ(m_pair.Connect(&m_type), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(m_pair.Out()->Disconnect(), S_OK);
    EXPECT_EQ(m_pair.Out()->Disconnect(), S_FALSE);
    EXPECT_EQ(m_pair.In()->Disconnect(), S_OK);
    ExpectUnconnected();
}

TEST_F(PinConnection, FullySpecifiedTypeRefused_FailsWithoutOtherCandidates) {
    // This pin's own check: its type is YUY2 only.
    CMediaType rgb = VideoType(MEDIASUBTYPE_RGB32, 64, 48);
    EXPECT_EQ(m_pair.Connect(&rgb), E_FAIL);
    EXPECT_EQ(m_pair.Sink->Pin().Checked(), 0);
    ExpectUnconnected();

    // The receiver's check (S_FALSE is a refusal).
    m_pair.Sink->Pin().Subtype = MEDIASUBTYPE_RGB32;
    EXPECT_EQ(m_pair.Connect(&m_type), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(m_pair.Sink->Pin().Checked(), 1);
    EXPECT_TRUE(m_pair.Stream->Allocators.empty());
    ExpectUnconnected();
}

TEST_F(PinConnection, NoType_TriesReceiverTypesFirstThenOwn) {
    // The receiver's first type is refused by the source; its second is taken.
    m_pair.Sink->Pin().Preferred = {VideoType(MEDIASUBTYPE_RGB32, 64, 48), Yuy2(1)};
    ASSERT_EQ(m_pair.Connect(nullptr), S_OK);
    EXPECT_EQ(ConnectedDuration(), 400001);
    DisconnectBoth();

    // Without receiver types the source's own type is used.
    m_pair.Sink->Pin().Preferred.clear();
    ASSERT_EQ(m_pair.Connect(nullptr), S_OK);
    EXPECT_EQ(ConnectedDuration(), 400000);
    DisconnectBoth();

    // Every candidate refused: the last refusal.
    m_pair.Sink->Pin().Subtype = MEDIASUBTYPE_RGB24;
    EXPECT_EQ(m_pair.Connect(nullptr), VFW_E_TYPE_NOT_ACCEPTED);
    ExpectUnconnected();
}

TEST_F(PinConnection, PartialType_OnlyMatchingCandidatesAreTried) {
    m_pair.Sink->Pin().Preferred.push_back(Yuy2(1));

    // Nothing is RGB32: no candidate qualifies, none reaches a CheckMediaType.
    CMediaType rgb(&MEDIATYPE_Video);
    rgb.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_EQ(m_pair.Connect(&rgb), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(m_pair.Sink->Pin().Checked(), 0);
    ExpectUnconnected();

    // A format given with the partial type must match byte for byte: only the source's
    // own type qualifies, though the receiver's comes first.
    CMediaType exact;
    exact.SetSubtype(&MEDIASUBTYPE_YUY2);
    exact.SetFormatType(&FORMAT_VideoInfo);
    exact.SetFormat(m_type.Format(), m_type.FormatLength());
    ASSERT_EQ(m_pair.Connect(&exact), S_OK);
    EXPECT_EQ(ConnectedDuration(), 400000);
    DisconnectBoth();

    // Major type only: the receiver's type is first and acceptable.
    CMediaType video(&MEDIATYPE_Video);
    ASSERT_EQ(m_pair.Connect(&video), S_OK);
    EXPECT_EQ(ConnectedDuration(), 400001);
}

TEST_F(PinConnection, SameDirectionOrActiveFilter_IsRefused) {
    HRESULT hr = S_OK;
    auto* other = new TestSource(&hr);
    other->AddRef();
    auto* otherStream = new TestStream(&hr, other, L"Other", m_type, &m_pair.Log);
    IPin* otherOut = static_cast<CBasePin*>(otherStream);
    EXPECT_EQ(m_pair.Out()->Connect(otherOut, &m_type), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(otherOut->ReceiveConnection(m_pair.Out(), &m_type), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(m_pair.In()->Connect(m_pair.In(), &m_type), VFW_E_INVALID_DIRECTION);
    ExpectUnconnected();
    EXPECT_EQ(other->Release(), 0u);

    // A paused receiver takes no connection; a connected pin of an active filter cannot
    // be disconnected.
    ASSERT_EQ(m_pair.Sink->Pause(), S_OK);
    EXPECT_EQ(m_pair.Connect(&m_type), VFW_E_NOT_STOPPED);
    ExpectUnconnected();
    ASSERT_EQ(m_pair.Sink->Stop(), S_OK);
    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    ASSERT_EQ(m_pair.Sink->Pause(), S_OK);
    EXPECT_EQ(m_pair.In()->Disconnect(), VFW_E_NOT_STOPPED);
}

TEST_F(PinConnection, DeliverFamily_ReachesTheReceiverThroughItsStreamingCheck) {
    TestStream& out = *m_pair.Stream;
    TestInputPin& in = m_pair.Sink->Pin();
    EXPECT_EQ(out.DeliverEndOfStream(), VFW_E_NOT_CONNECTED);

    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    ASSERT_EQ(out.DeliverNewSegment(10, 20, 1.5), S_OK);
    EXPECT_EQ(in.CurrentStartTime(), 10);
    EXPECT_EQ(in.CurrentStopTime(), 20);
    EXPECT_DOUBLE_EQ(in.CurrentRate(), 1.5);

    ASSERT_EQ(out.Allocator()->Commit(), S_OK);
    ComPtr<IMediaSample> held[2];
    IMediaSample* samples[2];
    for (uint32_t i = 0; i < 2; ++i) {
        ASSERT_EQ(out.GetDeliveryBuffer(held[i].Out(), nullptr, nullptr, 0), S_OK);
        samples[i] = held[i].Get();
        BYTE* data = nullptr;
        samples[i]->GetPointer(&data);
        const uint32_t value = 40 + i;
        std::memcpy(data, &value, sizeof(value));
    }

    EXPECT_EQ(out.Deliver(samples[0]), VFW_E_WRONG_STATE); // the sink is stopped
    ASSERT_EQ(m_pair.Sink->Pause(), S_OK);
    EXPECT_EQ(out.Deliver(samples[0]), S_OK);
    ComPtr<IMemInputPin> memInput;
    ASSERT_EQ(QueryTo(m_pair.In(), IID_IMemInputPin, &memInput), S_OK);
    LONG processed = -1;
    EXPECT_EQ(memInput->ReceiveMultiple(samples, 2, &processed), S_OK);
    EXPECT_EQ(processed, 2);
    const std::vector<uint32_t> expected = {40, 40, 41};
    EXPECT_EQ(in.Received(), expected);

    ASSERT_EQ(out.DeliverBeginFlush(), S_OK);
    EXPECT_TRUE(in.IsFlushing());
    EXPECT_EQ(out.Deliver(samples[1]), S_FALSE);
    EXPECT_EQ(memInput->ReceiveMultiple(samples, 2, &processed), S_FALSE);
    EXPECT_EQ(processed, 0);
    ASSERT_EQ(out.DeliverEndFlush(), S_OK);
    EXPECT_FALSE(in.IsFlushing());
    EXPECT_EQ(out.Deliver(samples[1]), S_OK);
    EXPECT_EQ(out.DeliverEndOfStream(), S_OK);
    EXPECT_EQ(in.EndOfStreams(), 1);
    EXPECT_EQ(in.Received().size(), 4u);
}

// Allocator negotiation

class AllocatorNegotiation : public PinConnection {};

TEST_F(AllocatorNegotiation, InputAllocator_UsedWithTheInputRequirements) {
    TestInputPin& in = m_pair.Sink->Pin();
    in.GiveRequirements = true;
    in.Requirements = {3, 0, 0, 0};
    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    ASSERT_EQ(m_pair.Stream->Requests.size(), 1u);
    EXPECT_EQ(m_pair.Stream->Requests[0].cBuffers, 3);
    EXPECT_EQ(m_pair.Stream->Requests[0].cbAlign, 1); // 0 is read as 1

    ComPtr<IMemAllocator> inputAllocator;
    ASSERT_EQ(in.GetAllocator(inputAllocator.Out()), S_OK);
    EXPECT_EQ(m_pair.Stream->Allocator(), inputAllocator.Get());
    EXPECT_EQ(in.Allocator(), inputAllocator.Get());
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(inputAllocator->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cBuffers, 3);
    EXPECT_EQ(props.cbBuffer, 64);

    // Alignment other than 0 is passed on as given.
    DisconnectBoth();
    in.Requirements = {1, 0, 16, 0};
    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    ASSERT_EQ(m_pair.Stream->Requests.size(), 2u);
    EXPECT_EQ(m_pair.Stream->Requests[1].cbAlign, 16);
    ASSERT_EQ(m_pair.Stream->Allocator()->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cBuffers, 2);
    EXPECT_EQ(props.cbAlign, 16);
}

TEST_F(AllocatorNegotiation, InputAllocatorRefused_OwnAllocatorNotifiedInstead) {
    m_pair.Stream->ForeignBufferResult = E_ABORT;
    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    const auto& seen = m_pair.Stream->Allocators;
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_EQ(m_pair.Stream->Allocator(), seen[1]);
    EXPECT_EQ(m_pair.Sink->Pin().Allocator(), seen[1]);
    // No requirements (E_NOTIMPL): zeros with alignment 1, for both tries.
    for (const ALLOCATOR_PROPERTIES& request : m_pair.Stream->Requests) {
        EXPECT_EQ(request.cBuffers, 0);
        EXPECT_EQ(request.cbAlign, 1);
    }
}

TEST_F(AllocatorNegotiation, BothRefused_LastFailureAndNoConnection) {
    m_pair.Stream->ForeignBufferResult = E_ABORT;
    m_pair.Stream->OwnBufferResult = E_OUTOFMEMORY;
    EXPECT_EQ(m_pair.Connect(&m_type), E_OUTOFMEMORY);
    EXPECT_EQ(m_pair.Stream->Allocators.size(), 2u);
    ExpectUnconnected();
}

TEST_F(AllocatorNegotiation, ActiveCommitsInactiveDecommits) {
    m_pair.Stream->Samples = 0;
    ASSERT_EQ(m_pair.Connect(&m_type), S_OK);
    IMemAllocator* allocator = m_pair.Stream->Allocator();
    ComPtr<IMediaSample> sample;
    const auto get = [&] {
        return allocator->GetBuffer(sample.Out(), nullptr, nullptr, AM_GBF_NOWAIT);
    };
    EXPECT_EQ(get(), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(m_pair.Sink->Pause(), S_OK);
    ASSERT_EQ(m_pair.Source->Pause(), S_OK);
    ASSERT_TRUE(m_pair.Log.WaitFor("end of stream", std::chrono::seconds(10)));
    ASSERT_EQ(get(), S_OK);
    sample.Reset();
    // The receiver decommits the allocator it holds, though the source still runs.
    ASSERT_EQ(m_pair.Sink->Stop(), S_OK);
    EXPECT_EQ(get(), VFW_E_NOT_COMMITTED);
}

// The media type enumerator

TEST(Enumerators, MediaTypes_WalkSkipCloneAndGoOutOfSync) {
    const CMediaType mine = VideoType(MEDIASUBTYPE_YUY2, 64, 48);
    FilterPair pair(mine);
    ComPtr<IEnumMediaTypes> types, clone, late;
    ASSERT_EQ(pair.Out()->EnumMediaTypes(types.Out()), S_OK);

    AM_MEDIA_TYPE* got[2] = {nullptr, nullptr};
    ULONG fetched = 9;
    ASSERT_EQ(types->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_TRUE(CMediaType(*got[0]) == mine);
    EXPECT_EQ(got[0]->cbFormat, mine.FormatLength());
    DeleteMediaType(got[0]);
    EXPECT_EQ(types->Next(1, got, nullptr), S_FALSE);

    ASSERT_EQ(types->Reset(), S_OK);
    ASSERT_EQ(types->Clone(clone.Out()), S_OK);
    EXPECT_EQ(types->Skip(1), S_OK);
    EXPECT_EQ(types->Skip(1), S_FALSE);
    ASSERT_EQ(clone->Next(1, got, &fetched), S_OK); // the clone kept its own position
    DeleteMediaType(got[0]);

    pair.Stream->IncrementTypeVersion();
    EXPECT_EQ(types->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(types->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(types->Clone(late.Out()), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_FALSE(late);
    ASSERT_EQ(types->Reset(), S_OK);
    ASSERT_EQ(types->Next(1, got, &fetched), S_OK);
    DeleteMediaType(got[0]);

    // Enumerators hold their pin's filter.
    EXPECT_EQ(pair.Source->RefCount(), 3);
    clone.Reset();
    types.Reset();
    EXPECT_EQ(pair.Source->RefCount(), 1);
}

} // namespace
