#include "tools/common/sample_log.h"

#include <algorithm>
#include <cerrno>

#include "tools/common/hresult_text.h"
#include "tools/common/json_writer.h"
#include "tools/common/payload_md5.h"

namespace {

void OptionalTime(JsonWriter& json, const char* key, const REFERENCE_TIME* time) {
    json.Key(key);
    if (time != nullptr)
        json.Int(*time);
    else
        json.Null();
}

} // namespace

CSampleLog::~CSampleLog() {
    Close();
}

bool CSampleLog::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (path == "-") {
        m_file = stdout;
        m_ownsFile = false;
    } else {
        m_file = std::fopen(path.c_str(), "wb");
        m_ownsFile = true;
    }
    return m_file != nullptr;
}

void CSampleLog::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_file != nullptr) {
        if (m_ownsFile)
            std::fclose(m_file);
        else
            std::fflush(m_file);
    }
    m_file = nullptr;
}

void CSampleLog::WriteLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_file == nullptr)
        return;
    errno = 0;
    if ((std::fputs(line.c_str(), m_file) < 0 || std::fputc('\n', m_file) == EOF) &&
        errno == EPIPE && m_onPipeClosed)
        m_onPipeClosed();
}

ReceivedSample::ReceivedSample(IMediaSample* sample) {
    sample->GetPointer(&Data);
    Size = size_t(std::max<LONG>(sample->GetActualDataLength(), 0));
    const HRESULT times = sample->GetTime(&Start, &Stop);
    HasStart = SUCCEEDED(times);
    HasStop = times == S_OK;
    Sync = sample->IsSyncPoint() == S_OK;
    Discontinuity = sample->IsDiscontinuity() == S_OK;
    Preroll = sample->IsPreroll() == S_OK;
}

void CSampleLog::Sample(int pin, const ReceivedSample& sample) {
    if (!IsOpen())
        return;
    JsonWriter json;
    json.BeginObject().Key("pin").Int(pin);
    OptionalTime(json, "start", sample.HasStart ? &sample.Start : nullptr);
    OptionalTime(json, "stop", sample.HasStop ? &sample.Stop : nullptr);
    json.Key("size").UInt(sample.Size);
    json.Key("sync").Bool(sample.Sync);
    json.Key("discontinuity").Bool(sample.Discontinuity);
    json.Key("preroll").Bool(sample.Preroll);
    json.Key("md5").String(PayloadMd5(sample.Data, sample.Size));
    if (sample.Level != 0)
        json.Key("level").UInt(sample.Level);
    json.EndObject();
    WriteLine(json.Text());
}

void CSampleLog::NewSegment(int pin, REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (!IsOpen())
        return;
    JsonWriter json;
    json.BeginObject().Key("pin").Int(pin).Key("event").String("newsegment");
    json.Key("start").Int(start).Key("stop").Int(stop).Key("rate").Double(rate).EndObject();
    WriteLine(json.Text());
}

void CSampleLog::Event(int pin, const char* name) {
    if (!IsOpen())
        return;
    JsonWriter json;
    json.BeginObject().Key("pin").Int(pin).Key("event").String(name).EndObject();
    WriteLine(json.Text());
}

void CSampleLog::Error(HRESULT hr) {
    if (!IsOpen())
        return;
    JsonWriter json;
    json.BeginObject().Key("event").String("error").Key("hr").String(HresultCode(hr)).EndObject();
    WriteLine(json.Text());
}
