// A test source filter (one or more CSourceStreams producing numbered samples) and a
// test sink filter (one CBaseInputPin recording what it receives), for connecting
// directly through IPin::Connect.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "framework/base_filter.h"
#include "framework/input_pin.h"
#include "framework/source.h"
#include "framework/source_stream.h"

namespace testfilters {

// A video type of the given subtype with a VIDEOINFOHEADER of width x height.
CMediaType VideoType(const GUID& subtype, LONG width, LONG height);

// What the pins did, in order, across both filters; waits are bounded.
class Journal {
public:
    void Add(const std::string& entry);
    std::vector<std::string> Entries();
    // True when an entry equal to entry is present within timeout.
    bool WaitFor(const std::string& entry, std::chrono::milliseconds timeout) {
        return WaitForCount(entry, 1, timeout);
    }
    // True when entry is present at least count times within timeout.
    bool WaitForCount(const std::string& entry, size_t count, std::chrono::milliseconds timeout);
    size_t Count(const std::string& entry);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_entries;
};

class TestSource;

// Produces Samples samples (-1: endless), sample i holding i as a 32-bit value in its
// first 4 bytes and the times [i * 100, i * 100 + 100).
class TestStream : public CSourceStream {
public:
    TestStream(HRESULT* phr, TestSource* filter, LPCWSTR name, const CMediaType& type,
               Journal* journal);
    // Journals "destroy <name>".
    ~TestStream() override;

    // Settings, made before the filter is paused.
    int Samples = 3;
    int FailAt = -1; // FillBuffer fails with E_ABORT at this sample
    // FillBuffer answers E_PENDING at this sample until Progress is set; WaitForProgress
    // waits for Progress, or keeps the default (no pending fills) unless WaitsForProgress.
    int PendingAt = -1;
    bool WaitsForProgress = true;
    CAMEvent Progress{TRUE};
    HRESULT ThreadCreateResult = S_OK;
    // DecideBufferSize fails with these unless S_OK: for the receiver's allocator and for
    // InitAllocator's; otherwise it asks for at least 2 buffers of 64 bytes.
    HRESULT ForeignBufferResult = S_OK;
    HRESULT OwnBufferResult = S_OK;
    HRESULT InactiveResult = S_OK; // Inactive answers it after doing its work

    // What happened, readable once the worker has ended.
    std::vector<ALLOCATOR_PROPERTIES> Requests; // DecideBufferSize's requests
    std::vector<IMemAllocator*> Allocators;     // the allocators DecideBufferSize saw
    std::atomic<int> ThreadCreated{0};
    std::atomic<int> ThreadDestroyed{0};
    std::atomic<int> StartPlay{0};
    std::atomic<int> Filled{0};
    std::atomic<int> PendingFills{0};

    HRESULT Active() override {
        m_journal->Add("active " + m_label);
        return CSourceStream::Active();
    }
    HRESULT Inactive() override;
    HRESULT Run(REFERENCE_TIME tStart) override {
        m_journal->Add("run " + m_label + " " + std::to_string(tStart));
        return CSourceStream::Run(tStart);
    }
    using CSourceStream::GetMediaType;

    // The command channel, for tests that drive the worker themselves.
    HRESULT Command(DWORD command) { return HRESULT(CallWorker(command)); }
    bool WorkerRunning() const { return ThreadExists() != FALSE; }

protected:
    HRESULT GetMediaType(CMediaType* pMediaType) override { return pMediaType->Set(m_type); }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    HRESULT InitAllocator(IMemAllocator** ppAlloc) override;
    HRESULT BreakConnect() override;
    HRESULT FillBuffer(IMediaSample* pSample) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override { return ++ThreadDestroyed, S_OK; }
    HRESULT OnThreadStartPlay() override { return ++StartPlay, S_OK; }
    HRESULT WaitForProgress(DWORD dwTimeoutMs) override;

private:
    const CMediaType m_type;
    Journal* const m_journal;
    const std::string m_label;      // the pin name, for the journal
    IMemAllocator* m_own = nullptr; // the last allocator InitAllocator made (not referenced)
    int m_next = 0;                 // worker only
};

class TestSource : public CSource {
public:
    explicit TestSource(HRESULT* phr);
    // The pin at n, as its class.
    TestStream* Stream(int n) { return static_cast<TestStream*>(GetPin(n)); }
    LONG RefCount() const { return m_cRef.load(); }
    STDMETHODIMP Pause() override { return ++PauseCalls, CSource::Pause(); }
    std::atomic<int> PauseCalls{0};
};

class TestSink;

// Accepts video of Subtype; prefers the types in Preferred; records samples; reports
// EC_COMPLETE to the graph on end of stream, as a renderer does.
class TestInputPin : public CBaseInputPin {
public:
    TestInputPin(HRESULT* phr, TestSink* filter, Journal* journal);

    GUID Subtype{};
    std::vector<CMediaType> Preferred;
    bool GiveRequirements = false;
    ALLOCATOR_PROPERTIES Requirements{0, 0, 0, 0};
    int RefuseAfter = -1; // Receive answers S_FALSE from this sample on

    // Guarded by the mutex; use the accessors.
    std::vector<uint32_t> Received();
    int EndOfStreams();
    int Checked() const { return m_checked.load(); }

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;
    HRESULT Active() override { return m_journal->Add("active In"), CBaseInputPin::Active(); }
    HRESULT Inactive() override { return m_journal->Add("inactive In"), CBaseInputPin::Inactive(); }
    HRESULT Run(REFERENCE_TIME tStart) override {
        return m_journal->Add("run In " + std::to_string(tStart)), CBaseInputPin::Run(tStart);
    }

private:
    Journal* const m_journal;
    std::atomic<int> m_checked{0};
    std::mutex m_mutex;
    std::vector<uint32_t> m_received;
    int m_endOfStreams = 0;
};

class TestSink : public CBaseFilter {
public:
    explicit TestSink(HRESULT* phr, Journal* journal);
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    // GetState answers StateResult once the base class succeeds.
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override {
        const HRESULT hr = CBaseFilter::GetState(dwMilliSecsTimeout, State);
        return FAILED(hr) ? hr : StateResult;
    }
    HRESULT StateResult = S_OK;
    TestInputPin& Pin() { return m_pin; }
    LONG RefCount() const { return m_cRef.load(); }

private:
    CCritSec m_lock;
    TestInputPin m_pin;
};

// A stand-in graph: IFilterGraph (every method E_NOTIMPL) and IMediaEventSink, which
// records the events.
class FakeGraph : public IFilterGraph, public IMediaEventSink {
public:
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override { return --m_cRef; } // lives on the stack

    STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }

    STDMETHODIMP Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;

    std::vector<Event> Events();
    ULONG RefCount() const { return m_cRef.load(); }

private:
    std::atomic<ULONG> m_cRef{0};
    std::mutex m_mutex;
    std::vector<Event> m_events;
};

// A source with one stream and a sink, each holding one reference from the fixture;
// TearDown stops both, disconnects the pins and checks that both filters die.
class FilterPair {
public:
    explicit FilterPair(const CMediaType& type);
    ~FilterPair();

    IPin* Out() { return static_cast<CBasePin*>(Stream); }
    IPin* In() { return static_cast<CBasePin*>(&Sink->Pin()); }
    HRESULT Connect(const AM_MEDIA_TYPE* pmt) { return Out()->Connect(In(), pmt); }
    void StopAll();

    Journal Log;
    TestSource* Source = nullptr;
    TestStream* Stream = nullptr;
    TestSink* Sink = nullptr;
};

} // namespace testfilters
