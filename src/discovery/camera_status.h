#pragma once
// Per-camera status (NEW, OK, attention) with the four counters of the camera store, and the
// marking of cameras whose address clashes with another listed camera.
//
// Runs without a lock: during a search on the thread that owns the list, during a settings
// run or firmware check on that run's worker; only one such run is active at a time.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "discovery/camera_entry.h"
#include "discovery/camera_list_model.h"
#include "discovery/camera_store.h"
#include "support/trace_log.h"

namespace lanrove {

// The three status texts as the text table holds them (English defaults).
struct StatusTexts {
    std::u16string newText = u"NEW";
    std::u16string okText = u"OK";
    std::u16string attentionText = u"CAUTION";
};

// Longest status text that szStatus holds (the field's width less its terminator).
inline constexpr std::size_t kMaxStatusChars = sizeof(CameraEntry::szStatus) / sizeof(char16_t) - 1;

// `text` cut to at most kMaxStatusChars characters, never between the halves of a surrogate
// pair.
std::u16string fitStatusText(std::u16string_view text);

// The four counters as the main window shows them ("%d").
struct CounterTexts {
    std::u16string total;
    std::u16string newCount;
    std::u16string ok;
    std::u16string attention;
};

enum class CameraStatus {
    Unchanged,  // protocol version other than 1 or 2: record and counters left alone
    New,
    Ok,
    Attention,
};

inline constexpr std::uint32_t kResultRefused = 400;  // version 1: this or more failed
inline constexpr const char* kWarnSettingV1 = "Failed in the IP address setting in version 1";
inline constexpr const char* kWarnSettingV2 = "Failed in the IP address setting in version 2";

// A camera still in its factory state that the list shows NEW and that answers from the factory
// address: the normal state before commissioning, also when several share that address.
bool isFactoryFresh(const CameraEntry& entry);

class CameraClassifier {
  public:
    using CounterHook = std::function<void(const CounterTexts&)>;

    CameraClassifier(CameraStore& store, TraceLog& log, const StatusTexts& texts = {},
                     CounterHook onCounters = {});

    // Texts longer than szStatus holds are cut to fit, so that a later classification still
    // recognises the stored text.
    void setStatusTexts(const StatusTexts& texts);
    const StatusTexts& statusTexts() const { return m_texts; }
    void setCounterHook(CounterHook hook) { m_fnCounters = std::move(hook); }

    // Sets szStatus from wProtoVer, dwResult, bFactory and szIp, moves the record between the
    // counters (counting it in the total the first time) and hands the counter texts to the
    // hook. A failed IP setting writes a "warn" event line with szTitle as subject.
    // A record whose wProtoVer is neither 1 nor 2 is left unchanged, counters included.
    CameraStatus classify(CameraEntry& entry);

    // Over the first `rows` rows of `list` (at most its row count): set the overlap mark 999 on
    // each non-factory camera whose IP text another row also shows, drop it where the clash is
    // gone, then classify each record and refresh its row. Stops at the first row with an empty
    // IP text.
    void markOverlaps(CameraListModel& list, int rows);

    CounterTexts counterTexts() const;
    // Hands the current counter texts to the hook (e.g. all "0" after a search was reset).
    void publishCounters() const;

  private:
    const std::u16string* textOf(CameraStatus status) const;

    CameraStore& m_store;
    TraceLog& m_log;
    StatusTexts m_texts;
    CounterHook m_fnCounters;
};

}  // namespace lanrove
