#include "runs/camera_search.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "discovery/datagram_codec.h"
#include "discovery/ipv4_address.h"
#include "support/text.h"

namespace lanrove {

namespace {

std::string lowerMac(const CameraEntry& entry) {
    std::string mac = fieldUtf8(entry.szMac);
    for (char& ch : mac) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return mac;
}

}  // namespace

CameraSearch::CameraSearch(SearchContext context, SearchEvents& events)
    : m_ctx(context), m_events(events) {}

CameraSearch::~CameraSearch() {
    stop();
}

int CameraSearch::stop() {
    // A cancelled worker can still be inside a version-1 completion (two HTTP requests), the
    // pause between passes or the ARP cache flush: the stop procedure's waits cover them.
    return stopWorkerThread(
        m_thread, [this] { cancel(); }, mainWindowStopLines("m_pSearchThread"), m_ctx.log,
        m_ctx.clock);
}

void CameraSearch::start() {
    // Set here, before the thread runs, so that a Cancel pressed in the first moments is not
    // undone by the worker. The stop flag is left to the start of the receive thread: an
    // earlier receive thread still inside its receive time-out must see it set and end.
    m_ctx.store.m_bSearchEnd = 0;
    m_thread.start([this] {
        runPasses();
        m_thread.closeHandleFromInside();
    });
}

void CameraSearch::cancel() {
    m_ctx.store.m_bSearchEnd = 1;
    m_ctx.store.m_bStop = 1;
}

void CameraSearch::run() {
    m_ctx.store.m_bSearchEnd = 0;
    runPasses();
}

void CameraSearch::runPasses() {
    CameraStore& store = m_ctx.store;
    store.resetForSearch();

    int remembered = -1;
    for (int i = 0; i < static_cast<int>(m_ctx.adapters.size()) && store.m_bSearchEnd != 1; ++i) {
        const AdapterEntry& adapter = m_ctx.adapters[static_cast<std::size_t>(i)];
        if (ipv4::fromTextOrZero(adapter.ip()) == 0) {
            m_ctx.log.event("IP address is not set to NIC", "warn", "");
            continue;
        }
        m_ctx.nAdapter = i;
        m_nCurrentAdapter = i;
        const int found = adapterPass();
        if (found != 0 && remembered < 0) remembered = i;
        m_ctx.clock.sleepFor(Millis(kSearchPassPauseMs));
    }

    markSpoofed();

    m_ctx.nAdapter = remembered < 0 ? 0 : remembered;
    // Later sends and receive threads (settings run, factory reset) use the remembered
    // adapter, not the one of the last pass.
    if (m_ctx.nAdapter < static_cast<int>(m_ctx.adapters.size()))
        m_ctx.link.setAdapter(m_ctx.adapters[static_cast<std::size_t>(m_ctx.nAdapter)]);
    m_ctx.scheduler.stop();
    store.m_bSearchEnd = 1;

    if (remembered < 0) {
        m_ctx.log.event("Could not find a camera", "err", "");
        m_events.searchNotFound();
    }
    m_events.setControlEnabled(kIdSearch, true);
    m_events.setCloseEnabled(true);
    m_events.setControlEnabled(kIdFirmCheck, true);
    m_events.setControlEnabled(kIdFactoryDefault, true);
    m_ctx.net.flushArpCache();
}

int CameraSearch::adapterPass() {
    CameraStore& store = m_ctx.store;
    store.m_bySendCount = 0;
    store.clearFoundMacs();
    const AdapterEntry adapter = m_ctx.adapters[static_cast<std::size_t>(m_ctx.nAdapter)];
    m_ctx.link.setAdapter(adapter);
    // A pass that cannot hear the replies sends nothing: the cameras would answer and
    // acknowledge-wait for nobody, and the list would say "not found" for the wrong reason.
    if (const int recv = m_ctx.link.startRecvThread(); recv != 0) {
        const std::string why = recv == ETIMEDOUT ? "it did not get ready" : std::strerror(recv);
        const std::string ifName(adapter.ifName());
        m_ctx.log.trace(1, "Search Recv Open Error(%d) Adapter(%s): nothing sent.", recv,
                        ifName.c_str());
        m_ctx.log.event("Search receive port open error = " + std::to_string(recv), "err", ifName);
        m_events.searchPortError("The search cannot open port " + std::to_string(dgram::kPcPort) +
                                 " on " + ifName + " for the cameras' replies (" + why +
                                 "; another program may hold it): nothing was sent there.");
        return 0;
    }
    m_ctx.scheduler.start(SendSchedule::Search);
    // Starting the receive thread clears the stop flag: keep a Cancel that came meanwhile.
    if (store.m_bSearchEnd.load() == 1) store.m_bStop = 1;

    CgiSessionSlot slot;
    int lastPosted = 0;
    while (store.m_bStop.load() != 1) {
        int read = 0;
        bool haveRecord = false;
        CameraEntry entry;
        {
            std::lock_guard lock(store.m_csCamTable);
            read = store.m_nFindRead;
            if (read != store.m_nFindWrite) {
                entry = store.m_CamTable[static_cast<std::size_t>(read)];
                haveRecord = true;
            }
        }
        if (haveRecord) {
            if (store.findByMac(fieldView(entry.szMac), read) >= 0) {
                // The same camera answered on an earlier adapter.
                std::lock_guard lock(store.m_csCamTable);
                ++store.m_nFindRead;
            } else {
                if (entry.wProtoVer == 1 && spoofedNow(entry)) {
                    // No login to a MAC that already answered from two addresses.
                    entry.nRtspRtp = 0;
                } else if (entry.wProtoVer == 1) {
                    // Completed outside the table lock: the receive thread only appends past
                    // m_nFindWrite, so a slow camera does not hold up the replies of others.
                    setField(entry.szPort, std::u16string_view());
                    setField(entry.szSsl, std::u16string_view());
                    setField(entry.szTitle, std::u16string_view());
                    const std::string ip = fieldUtf8(entry.szIp);
                    if (CCGI::IsOutsideHostSubnet(adapter.ip(), adapter.mask(), ip) != 0 ||
                        fieldView(entry.szIp) == kFactoryAddress) {
                        entry.nRtspRtp = 0;
                    } else {
                        completeVersion1(entry, slot);
                    }
                }
                int taken = 0;
                {
                    std::lock_guard lock(store.m_csCamTable);
                    store.m_CamTable[static_cast<std::size_t>(read)] = entry;
                    taken = ++store.m_nFindRead;
                }
                m_events.addRow(read);
                if (taken <= kMarkEveryRowUpTo || taken % kMarkEvery == 0) m_events.markRows(taken);
            }
        } else if (read <= kMarkOnPauseUpTo && read != lastPosted) {
            // Only this branch remembers its count: a pause right after a marked row marks the
            // rows once more.
            m_events.markRows(read);
            lastPosted = read;
        }
        // Every turn waits, also while records are waiting.
        m_ctx.clock.sleepFor(Millis(kSearchPollMs));
    }

    int read = 0;
    int write = 0;
    {
        std::lock_guard lock(store.m_csCamTable);
        read = store.m_nFindRead;
        write = store.m_nFindWrite;
    }
    if (read > 0) m_events.markRows(read);
    m_ctx.log.trace(1, "Find Write:%d Read:%d", write, read);
    slot.reset();
    return read;
}

bool CameraSearch::spoofedNow(const CameraEntry& entry) const {
    return !m_ctx.store.spoofedAddresses(lowerMac(entry)).empty();
}

void CameraSearch::markSpoofed() {
    CameraStore& store = m_ctx.store;
    CameraTrust* trust = m_ctx.cgi.trust();
    int marked = 0;
    int rows = 0;
    {
        std::lock_guard lock(store.m_csCamTable);
        for (int i = 0; i < store.m_nFindRead; ++i) {
            CameraEntry& e = store.m_CamTable[static_cast<std::size_t>(i)];
            const std::string mac = fieldUtf8(e.szMac);
            const std::string addresses = store.spoofedAddresses(lowerMac(e));
            if (addresses.empty()) {
                // This search agrees: what an earlier one saw no longer holds.
                if (trust != nullptr) trust->clearSpoofed(mac);
                continue;
            }
            if (trust != nullptr) trust->markSpoofed(mac, addresses);
            // Kept across the overlap mark, which saves and gives back the result.
            if (e.dwResult == kResultOverlap)
                store.m_dwResultBeforeOverlap[static_cast<std::size_t>(i)] = kResultSpoofed;
            else
                e.dwResult = kResultSpoofed;
            ++marked;
        }
        rows = store.m_nFindRead;
    }
    if (marked > 0) {
        m_ctx.log.trace(1, "Find %d cameras answered from two addresses", marked);
        m_events.markRows(rows);
    }
}

void CameraSearch::completeVersion1(CameraEntry& entry, CgiSessionSlot& slot) {
    m_ctx.cgi.GetCodecStreamCgi(kSearchCodecTimeoutMs, slot, entry);
    if (entry.nRtspRtp > 0) m_ctx.cgi.ReqGetCamSetCgi(slot, entry);
}

}  // namespace lanrove
