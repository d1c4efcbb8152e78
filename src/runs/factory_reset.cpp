#include "runs/factory_reset.h"

#include <system_error>

#include "runs/change_journal.h"
#include "support/text.h"

namespace lanrove {

namespace {

// The HRESULT of the Win32 facility that the thread start reports for a system error code.
long startFailureCode(int error) {
    return static_cast<long>(0x80070000UL | (static_cast<unsigned long>(error) & 0xFFFFUL));
}

}  // namespace

std::string factoryResetStartText(long code) {
    const int error = static_cast<int>(static_cast<unsigned long>(code) & 0xFFFFUL);
    return "The factory reset could not start its thread (" +
           std::system_category().message(error) + "): no camera was reset.";
}

FactoryReset::FactoryReset(FactoryResetContext context) : m_ctx(context) {
    setSender({});
}

FactoryReset::~FactoryReset() {
    stop();
}

void FactoryReset::setSender(ResetSender sender) {
    if (sender) {
        m_sender = std::move(sender);
        return;
    }
    m_sender = [this](const CameraEntry& copy, CgiSessionSlot& slot, int num) {
        return m_ctx.cgi.SetFactoryDefaultCommand(slot, copy, num);
    };
}

long FactoryReset::start(FactoryResetEvents* events) {
    // Stop an earlier thread before anything it reads is changed.
    stop();
    m_resetDone.reset();
    m_bResetRunning = true;
    m_bAnyAccepted = false;
    m_bSettleWaited = false;
    {
        std::lock_guard lock(m_outcomeMutex);
        m_outcomes.clear();
    }
    m_pEvents = events;
    m_nOperation = kResetOperationNumber;
    // Cleared before the thread exists, so that it cannot miss a stop asked for later.
    m_stopReset.reset();
    try {
        m_thread.start([this] {
            run();
            m_thread.closeHandleFromInside();
        });
    } catch (const std::system_error& e) {
        m_ctx.log.trace(1, "AllResetSetting Thread Start Error(%d).", e.code().value());
        m_ctx.log.event("Reset thread start error = " + std::to_string(e.code().value()), "err",
                        "");
        finish();
        return startFailureCode(e.code().value());
    } catch (...) {
        m_ctx.log.event("Reset thread start error = 0", "err", "");
        finish();
        return startFailureCode(0);
    }
    return 0;
}

int FactoryReset::stop() {
    return stopWorkerThread(m_thread, m_stopReset, mainWindowStopLines("m_hResetThread"), m_ctx.log,
                            m_ctx.clock);
}

std::vector<ResetOutcome> FactoryReset::outcomes() const {
    std::lock_guard lock(m_outcomeMutex);
    return m_outcomes;
}

void FactoryReset::run() {
    CgiSessionSlot slot;  // the connection slot both passes share
    // A stop during the first pass skips the second.
    if (pass(1, slot)) pass(2, slot);
    if (m_bAnyAccepted.load()) {
        // The cameras restart with their factory settings before the new search looks for
        // them. Runs in full also after a stop request.
        m_bSettleWaited = true;
        m_ctx.clock.sleepFor(Millis(kResetSettleMs));
    }
    slot.reset();  // release the HTTP connection
    finish();
}

bool FactoryReset::pass(int number, CgiSessionSlot& slot) {
    const Millis pause = m_ctx.clock.scaled(Millis(kResetPauseMs));
    for (std::size_t i = 0; i < kCameraTableSize; ++i) {
        CameraEntry copy = m_ctx.store.m_CamTable[i];
        setField(copy.szUser, std::u16string_view(kServiceUser));
        setField(copy.szPassword, std::u16string_view(kServicePassword));
        if (fieldEmpty(copy.szPort)) setField(copy.szPort, std::u16string_view(u"80"));
        if (fieldEmpty(copy.szSsl)) setField(copy.szSsl, std::u16string_view(u"0"));
        if (fieldEmpty(copy.szNo)) break;  // the end of the list
        const bool atFactoryAddress = fieldView(copy.szIp) == kFactoryAddress;
        // The first pass looks only at the factory address; the second waits before every
        // entry and sends to the rest.
        if (number == 1 && !atFactoryAddress) continue;
        if (!m_only.empty() && m_only.count(std::u16string(fieldView(copy.szMac))) == 0) continue;
        if (m_stopReset.waitFor(pause)) return false;
        if (number == 2 && atFactoryAddress) continue;
        ResetOutcome outcome;
        outcome.recordIndex = static_cast<int>(i);
        outcome.pass = number;
        outcome.result = m_sender(copy, slot, m_nOperation);
        if (outcome.accepted()) {
            m_bAnyAccepted = true;
            // The camera makes itself a new certificate as it restarts; only the cameras that
            // took the command may present one.
            if (CameraTrust* trust = m_ctx.cgi.trust(); trust != nullptr)
                trust->expectNew(fieldUtf8(copy.szMac));
        }
        journalReset(copy, outcome.accepted(), outcome.result);
        {
            std::lock_guard lock(m_outcomeMutex);
            m_outcomes.push_back(outcome);
        }
        if (m_pEvents != nullptr) m_pEvents->cameraReset(outcome);
    }
    return true;
}

void FactoryReset::finish() {
    // Running is cleared before done is set: whoever sees the done event sees the run over.
    m_bResetRunning = false;
    m_resetDone.set();
}

}  // namespace lanrove
