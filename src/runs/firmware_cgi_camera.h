#pragma once
// The camera steps of one firmware worker over the camera client: status and command requests,
// the restart steps and waits, and the upload request, all on one session of its own.
//
// The steps keep a record of their own (a shadow of the camera-table record) for the fields
// they set on the table side; the worker's status sink carries those values into the table
// under its lock, so that no step writes the shared table directly.

#include <memory>

#include "cgi/cgi.h"
#include "cgi/firmware_upload.h"
#include "firmware/camera_steps.h"
#include "runs/firmware_ports.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove {

class CgiFirmCamera final : public FirmCamera {
  public:
    CgiFirmCamera(CCGI& cgi, TraceLog& log, const Clock& clock, const ManualResetEvent& abort);

    void useAdapter(const AdapterEntry& adapter) override { m_slot.adapter = adapter; }
    void dropSession() override { m_slot.ctx.session.reset(); }
    int connectInitSess(const CameraEntry& copy) override;
    int getCodecStream(CameraEntry& copy, long timeoutMs) override;
    int reqGetCamSet(CameraEntry& copy) override;
    bool reachable(const CameraEntry& copy, long limitMs) override;
    int restartCommand(const CameraEntry& copy) override;
    int setRebootWait(const CameraEntry& copy) override;
    void prepare(CameraEntry& copy, FirmStatusSink& sink) override;
    void restore(CameraEntry& copy, FirmStatusSink& sink) override;
    int rebootWait(CameraEntry& copy, const FirmRow& row, int uploadingTime,
                   FirmStatusSink& sink) override;
    FirmPostResult post(CameraEntry& copy, const std::filesystem::path& file,
                        const FirmImage& image, FirmStatusSink& sink,
                        const FirmPostLimits& limits) override;
    void keepGoing(bool on) override { m_slot.stop = on ? nullptr : m_pAbort; }

  private:
    // Before a step: its copy and the table-side values it may look at.
    void enter(const CameraEntry& copy, FirmStatusSink* sink);
    // After it: the copy back to the worker, changed table-side values through the sink.
    void leave(CameraEntry& copy, FirmStatusSink* sink);

    CCGI& m_cgi;
    CFirmUpload m_upload;
    CameraSteps m_steps;
    CameraStepSlot m_slot;
    const ManualResetEvent* m_pAbort = nullptr;
    CameraEntry m_shadow{};
    std::uint16_t m_wEnteredAspect = 0;
    std::uint16_t m_wEnteredStatus = 0;
};

// The factory for SetupCore: one CgiFirmCamera per worker over the program's camera client.
FirmCameraFactory cgiFirmCameraFactory(CCGI& cgi, TraceLog& log, const Clock& clock);

}  // namespace lanrove
