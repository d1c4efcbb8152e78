#include "discovery/camera_status.h"

#include "support/text.h"

namespace lanrove {

namespace {

std::u16string decimal(std::int32_t value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

bool isFactoryState(const CameraEntry& entry) {
    if (entry.wProtoVer == 1) return fieldView(entry.szIp) == kFactoryAddress;
    if (entry.wProtoVer == 2) return entry.bFactory == 1;
    return false;
}

// Index of the first in-use record whose szNo equals `number`, or -1.
int findRecordByNumber(const CameraTable& table, std::u16string_view number) {
    for (std::size_t i = 0; i < kCameraTableSize; ++i) {
        const CameraEntry& e = table[i];
        if (!e.inUse()) break;
        if (fieldView(e.szNo) == number) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

bool isFactoryFresh(const CameraEntry& entry) {
    if (fieldView(entry.szIp) != kFactoryAddress || entry.dwResult == kResultSpoofed) return false;
    if (entry.wProtoVer == 2) return entry.dwResult == kResultAccepted && entry.bFactory == 1;
    if (entry.wProtoVer == 1) return entry.dwResult < kResultRefused;
    return false;
}

std::u16string fitStatusText(std::u16string_view text) {
    if (text.size() <= kMaxStatusChars) return std::u16string(text);
    std::size_t n = kMaxStatusChars;
    // Keep a surrogate pair whole: drop a high surrogate whose partner would be cut off.
    if (text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    return std::u16string(text.substr(0, n));
}

CameraClassifier::CameraClassifier(CameraStore& store, TraceLog& log, const StatusTexts& texts,
                                   CounterHook onCounters)
    : m_store(store), m_log(log), m_fnCounters(std::move(onCounters)) {
    setStatusTexts(texts);
}

void CameraClassifier::setStatusTexts(const StatusTexts& texts) {
    m_texts.newText = fitStatusText(texts.newText);
    m_texts.okText = fitStatusText(texts.okText);
    m_texts.attentionText = fitStatusText(texts.attentionText);
}

const std::u16string* CameraClassifier::textOf(CameraStatus status) const {
    switch (status) {
        case CameraStatus::New:
            return &m_texts.newText;
        case CameraStatus::Ok:
            return &m_texts.okText;
        case CameraStatus::Attention:
            return &m_texts.attentionText;
        case CameraStatus::Unchanged:
            break;
    }
    return nullptr;
}

CameraStatus CameraClassifier::classify(CameraEntry& entry) {
    // Decide first, so that an unknown protocol version touches neither record nor counters.
    CameraStatus status = CameraStatus::Unchanged;
    const char* warning = nullptr;
    if ((entry.wProtoVer == 1 || entry.wProtoVer == 2) && entry.dwResult == kResultSpoofed) {
        // Its own event line was written when the second address came; no setting failed.
        status = CameraStatus::Attention;
    } else if (entry.wProtoVer == 2) {
        if (entry.dwResult == kResultAccepted) {
            status = entry.bFactory == 1 ? CameraStatus::New : CameraStatus::Ok;
        } else {
            status = CameraStatus::Attention;
            warning = kWarnSettingV2;
        }
    } else if (entry.wProtoVer == 1) {
        if (entry.dwResult >= kResultRefused) {
            status = CameraStatus::Attention;
            warning = kWarnSettingV1;
        } else {
            status =
                fieldView(entry.szIp) == kFactoryAddress ? CameraStatus::New : CameraStatus::Ok;
        }
    }
    if (status == CameraStatus::Unchanged) return status;

    const std::u16string_view previous = fieldView(entry.szStatus);
    if (previous.empty()) {
        ++m_store.m_nTotal;
    } else if (previous == m_texts.newText) {
        --m_store.m_nNew;
    } else if (previous == m_texts.okText) {
        --m_store.m_nOk;
    } else if (previous == m_texts.attentionText) {
        --m_store.m_nAttention;
    }

    // A refused setting is written once, when the camera enters attention for it: a clash mark
    // is no setting, and the re-marking after every reply must not repeat the line.
    if (warning != nullptr && entry.dwResult != kResultOverlap && previous != m_texts.attentionText)
        m_log.event(warning, "warn", fieldUtf8(entry.szTitle));

    switch (status) {
        case CameraStatus::New:
            ++m_store.m_nNew;
            break;
        case CameraStatus::Ok:
            ++m_store.m_nOk;
            break;
        case CameraStatus::Attention:
            ++m_store.m_nAttention;
            break;
        case CameraStatus::Unchanged:
            break;
    }
    setField(entry.szStatus, std::u16string_view(*textOf(status)));
    publishCounters();
    return status;
}

void CameraClassifier::markOverlaps(CameraListModel& list, int rows) {
    const int n = rows < list.rowCount() ? rows : list.rowCount();
    for (int a = 0; a < n; ++a) {
        const std::u16string ip = list.cell(a, kColIp);  // copy: the refresh below rewrites it
        if (ip.empty()) break;
        bool overlaps = false;
        for (int i = 0; i < n; ++i) {
            const std::u16string& other = list.cell(i, kColIp);
            if (other.empty()) break;
            if (i != a && other == ip) {
                overlaps = true;
                break;
            }
        }
        const int index = findRecordByNumber(m_store.m_CamTable, list.cell(a, kColNo));
        if (index < 0) continue;
        CameraEntry& entry = m_store.m_CamTable[static_cast<std::size_t>(index)];
        std::uint32_t& saved = m_store.m_dwResultBeforeOverlap[static_cast<std::size_t>(index)];
        if (overlaps) {
            // Factory-state cameras all share the default address; only the others clash.
            if ((entry.wProtoVer == 1 || entry.wProtoVer == 2) && !isFactoryState(entry) &&
                entry.dwResult != kResultOverlap) {
                saved = entry.dwResult;
                entry.dwResult = kResultOverlap;
            }
        } else {
            // Give back the result the mark replaced: a version 2 camera left at 0 would stay
            // in attention although its clash is gone.
            if (entry.dwResult == kResultOverlap) entry.dwResult = saved;
            saved = 0;
        }
        classify(entry);
        list.refreshRow(a, entry);
    }
}

CounterTexts CameraClassifier::counterTexts() const {
    return CounterTexts{decimal(m_store.m_nTotal), decimal(m_store.m_nNew), decimal(m_store.m_nOk),
                        decimal(m_store.m_nAttention)};
}

void CameraClassifier::publishCounters() const {
    if (m_fnCounters) m_fnCounters(counterTexts());
}

}  // namespace lanrove
