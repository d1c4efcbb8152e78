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

struct CameraSearch::Pass {
    Pass(int index, const AdapterEntry& entry, const SearchContext& ctx, int passNo)
        : adapterIndex(index),
          adapter(entry),
          link(ctx.store, flags, passNo, ctx.link.transport(), ctx.log, ctx.clock,
               ctx.link.codec()),
          scheduler(link, ctx.store, ctx.log, ctx.clock) {
        flags.m_bClearOnFirstRequest = false;
        link.setAdapter(entry);
    }
    const int adapterIndex;
    const AdapterEntry adapter;
    PassFlags flags;
    DatagramLink link;
    SendScheduler scheduler;  // last: stopped before the link goes
    bool listening = false;
};

CameraSearch::CameraSearch(SearchContext context, SearchEvents& events)
    : m_ctx(context), m_events(events) {}

CameraSearch::~CameraSearch() {
    stop();
}

int CameraSearch::stop() {
    // A cancelled worker can still be inside a version-1 completion (two HTTP requests), the
    // pause after the passes or the ARP cache flush: the stop procedure's waits cover them.
    return stopWorkerThread(
        m_thread, [this] { cancel(); }, mainWindowStopLines("m_pSearchThread"), m_ctx.log,
        m_ctx.clock);
}

void CameraSearch::start() {
    // Set here, before the thread runs, so that a Cancel pressed in the first moments is not
    // undone by the worker. The store's stop flag is left alone: an earlier receive thread
    // still inside its receive time-out must see it set and end.
    m_ctx.store.m_bSearchEnd = 0;
    m_thread.start([this] {
        runPasses();
        m_thread.closeHandleFromInside();
    });
}

void CameraSearch::cancel() {
    m_ctx.store.m_bSearchEnd = 1;
    m_ctx.store.m_bStop = 1;
    std::lock_guard lock(m_passMutex);
    for (const auto& p : m_passes) p->flags.m_bStop = 1;
}

void CameraSearch::run() {
    m_ctx.store.m_bSearchEnd = 0;
    runPasses();
}

void CameraSearch::runPasses() {
    CameraStore& store = m_ctx.store;
    endPasses();
    store.resetForSearch();
    m_nRowAdapter.fill(-1);
    m_nCurrentAdapter = -1;
    m_nPassCount = 0;

    startPasses();
    const int read = takeOverRecords();
    if (m_nPassCount.load() > 0) m_ctx.clock.sleepFor(Millis(kSearchPassPauseMs));

    // The first adapter in adapter order that found any camera, as when the passes ran one
    // after another.
    int remembered = -1;
    for (int i = 0; i < read && i < static_cast<int>(kCameraTableSize); ++i) {
        const int adapter = m_nRowAdapter[static_cast<std::size_t>(i)];
        if (adapter >= 0 && (remembered < 0 || adapter < remembered)) remembered = adapter;
    }

    markSpoofed();

    m_ctx.nAdapter = remembered < 0 ? 0 : remembered;
    // Later sends and receive threads (settings run, factory reset) use the remembered
    // adapter.
    if (m_ctx.nAdapter < static_cast<int>(m_ctx.adapters.size()))
        m_ctx.link.setAdapter(m_ctx.adapters[static_cast<std::size_t>(m_ctx.nAdapter)]);
    m_ctx.scheduler.stop();
    store.m_bStop = 1;
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

void CameraSearch::endPasses() {
    std::vector<std::unique_ptr<Pass>> ended;
    {
        std::lock_guard lock(m_passMutex);
        ended.swap(m_passes);
    }
    for (auto& p : ended) p->flags.m_bStop = 1;
    // Each pass stops its schedule and waits for its receive thread (one receive time-out at
    // most), all outside the lock so that a Cancel is never held up.
    ended.clear();
}

void CameraSearch::startPasses() {
    CameraStore& store = m_ctx.store;
    std::vector<Pass*> passes;
    for (int i = 0; i < static_cast<int>(m_ctx.adapters.size()) && store.m_bSearchEnd != 1; ++i) {
        const AdapterEntry& adapter = m_ctx.adapters[static_cast<std::size_t>(i)];
        if (ipv4::fromTextOrZero(adapter.ip()) == 0) {
            m_ctx.log.event("IP address is not set to NIC", "warn", "");
            continue;
        }
        std::lock_guard lock(m_passMutex);
        m_passes.push_back(
            std::make_unique<Pass>(i, adapter, m_ctx, static_cast<int>(m_passes.size())));
        passes.push_back(m_passes.back().get());
    }
    if (passes.empty()) return;
    m_nCurrentAdapter = passes.front()->adapterIndex;
    m_nPassCount = static_cast<int>(passes.size());

    // Every receive socket first, then the requests: a camera that answers one adapter's
    // request by broadcast is heard on the other adapters of its segment as well.
    for (Pass* p : passes) {
        if (store.m_bSearchEnd.load() == 1) {
            p->flags.m_bStop = 1;
            continue;
        }
        // A pass that cannot hear the replies sends nothing: the cameras would answer and
        // acknowledge-wait for nobody, and the list would say "not found" for the wrong reason.
        if (const int recv = p->link.startRecvThread(); recv != 0) {
            p->flags.m_bStop = 1;
            const std::string why =
                recv == ETIMEDOUT ? "it did not get ready" : std::strerror(recv);
            const std::string ifName(p->adapter.ifName());
            m_ctx.log.trace(1, "Search Recv Open Error(%d) Adapter(%s): nothing sent.", recv,
                            ifName.c_str());
            m_ctx.log.event("Search receive port open error = " + std::to_string(recv), "err",
                            ifName);
            m_events.searchPortError("The search cannot open port " +
                                     std::to_string(dgram::kPcPort) + " on " + ifName +
                                     " for the cameras' replies (" + why +
                                     "; another program may hold it): nothing was sent there.");
            continue;
        }
        p->listening = true;
        // Starting the receive thread clears the pass's stop flag: keep a Cancel that came
        // meanwhile.
        if (store.m_bSearchEnd.load() == 1) p->flags.m_bStop = 1;
    }
    for (Pass* p : passes) {
        if (!p->listening || p->flags.m_bStop.load() == 1) continue;
        p->scheduler.start(SendSchedule::Search);
        if (store.m_bSearchEnd.load() == 1) p->flags.m_bStop = 1;
    }
}

bool CameraSearch::allPassesEnded() {
    std::lock_guard lock(m_passMutex);
    for (const auto& p : m_passes)
        if (p->flags.m_bStop.load() != 1) return false;
    return true;
}

int CameraSearch::takeOverRecords() {
    CameraStore& store = m_ctx.store;
    CgiSessionSlot slot;
    int lastPosted = 0;
    while (!allPassesEnded()) {
        int read = 0;
        int pass = -1;
        bool haveRecord = false;
        CameraEntry entry;
        {
            std::lock_guard lock(store.m_csCamTable);
            read = store.m_nFindRead;
            if (read != store.m_nFindWrite) {
                entry = store.m_CamTable[static_cast<std::size_t>(read)];
                pass = store.m_nAppendedBy[static_cast<std::size_t>(read)];
                haveRecord = true;
            }
        }
        if (haveRecord) {
            // Only the worker changes the pass list, so it reads it without the lock.
            const Pass* p = pass >= 0 && pass < static_cast<int>(m_passes.size())
                                ? m_passes[static_cast<std::size_t>(pass)].get()
                                : m_passes.front().get();
            const int row = store.findByMac(fieldView(entry.szMac), read);
            if (row >= 0 && p->adapterIndex < m_nRowAdapter[static_cast<std::size_t>(row)]) {
                takeOverDuplicate(read, row, entry, p->adapterIndex, p->adapter, slot);
            } else if (row >= 0) {
                // The same camera answered on an earlier adapter.
                std::lock_guard lock(store.m_csCamTable);
                ++store.m_nFindRead;
            } else {
                completeFor(entry, p->adapter, slot);
                int taken = 0;
                {
                    std::lock_guard lock(store.m_csCamTable);
                    store.m_CamTable[static_cast<std::size_t>(read)] = entry;
                    taken = ++store.m_nFindRead;
                }
                m_nRowAdapter[static_cast<std::size_t>(read)] = p->adapterIndex;
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
    // One line per adapter, as each pass has always ended with.
    for (int i = 0; i < m_nPassCount.load(); ++i)
        m_ctx.log.trace(1, "Find Write:%d Read:%d", write, read);
    slot.reset();
    return read;
}

void CameraSearch::takeOverDuplicate(int read, int row, CameraEntry entry, int adapter,
                                     const AdapterEntry& adapterEntry, CgiSessionSlot& slot) {
    CameraStore& store = m_ctx.store;
    completeFor(entry, adapterEntry, slot);
    {
        std::lock_guard lock(store.m_csCamTable);
        store.m_CamTable[static_cast<std::size_t>(read)] = entry;
        ++store.m_nFindRead;
    }
    m_nRowAdapter[static_cast<std::size_t>(row)] = adapter;
    m_ctx.log.trace(1, "Find MacAddress(%s) also on Adapter(%s): listed for it.",
                    fieldUtf8(entry.szMac).c_str(), std::string(adapterEntry.ifName()).c_str());
    m_events.replaceRow(row, read);
}

void CameraSearch::completeFor(CameraEntry& entry, const AdapterEntry& adapter,
                               CgiSessionSlot& slot) {
    if (entry.wProtoVer != 1) return;  // version 2 replies carry every field
    if (spoofedNow(entry)) {
        // No login to a MAC that already answered from two addresses.
        entry.nRtspRtp = 0;
        return;
    }
    // Completed outside the table lock: the receive threads only append past m_nFindWrite, so
    // a slow camera does not hold up the replies of others.
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
