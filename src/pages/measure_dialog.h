// SPDX-License-Identifier: GPL-3.0-or-later
// The "Measure…" dialog: a sweep through one speaker of the amplifier, recorded with a
// measurement microphone, drawn over the bank's EQ graph. The other outputs are muted over USB
// for the sweep and every mute is put back afterwards. Audio and analysis run on a worker
// thread; the window only shows their progress.
#pragma once

#include "eq/eq_bank.h"
#include "measure/average.h"
#include "measure/level_check.h"
#include "measure/run.h"
#include "params/dsp.h"

#include <QDialog>
#include <QPointer>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace q7 {

class AudioBackend;
class Prompter;
class CEqPanel;
class CPage;
class EditorContext;

// The impulse response around its peak, small, beside the result.
class CImpulseView : public QWidget {
    Q_OBJECT
public:
    CImpulseView(bool english, QWidget* parent);
    // The samples around the peak (at index peak), at rate; empty clears it.
    void setImpulse(std::vector<float> samples, std::size_t peak, double rate);
    // What of a response the view draws: from 5 ms before the peak to 60 ms after it, the
    // peak's index within that part.
    static std::vector<float> window(const std::vector<float>& samples, double peak, double rate,
                                     std::size_t& peakInWindow);
    bool empty() const { return samples_.empty(); }
    const std::vector<float>& samples() const { return samples_; }
    std::size_t peak() const { return peak_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    std::vector<float> samples_;
    std::size_t peak_ = 0;
    double rate_ = 48000;
    bool english_ = false;
};

// The speaker a bank's output feeds first (main: main-l), as an index into speakerOutputs().
int defaultSpeakerOfBank(int bank);

class CMeasureDlg : public QDialog {
    Q_OBJECT
public:
    // audio: the back-ends whose devices can be chosen, the simulated amplifier's first.
    // graph: the page's EQ graph the result is drawn over (may go away while the dialog is open).
    CMeasureDlg(EditorContext& editor, std::vector<AudioBackend*> audio, int bank, CPage* page,
                CEqPanel* graph, QWidget* parent);
    ~CMeasureDlg() override;

    enum class Stage { Idle, Checking, Sweeping };
    Stage stage() const { return stage_; }
    bool busy() const { return stage_ != Stage::Idle; }
    // Whether the other outputs are muted for a measurement right now.
    bool outputsSwitched() const { return switched_; }
    // The result of the last complete measurement (all positions), empty before.
    const FrequencyResponse& result() const { return result_.mean; }
    const std::vector<double>& spread() const { return result_.spreadDb; }
    const std::optional<LevelCheck>& level() const { return level_; }
    int positionsDone() const { return int(responses_.size()); }

    QComboBox* playBox() const { return play_; }
    QComboBox* recordBox() const { return record_; }
    QComboBox* inputBox() const { return input_; }
    QComboBox* speakerBox() const { return speaker_; }
    QDoubleSpinBox* secondsBox() const { return seconds_; }
    QDoubleSpinBox* levelBox() const { return levelDb_; }
    QSpinBox* positionsBox() const { return positions_; }
    // How the arrival is timed: from the recording's start, a loopback channel, or a short
    // sweep from a reference speaker (the item's data: -2, -1, or the speaker's index).
    QComboBox* referenceBox() const { return reference_; }
    QComboBox* smoothingBox() const { return smoothing_; }
    // How positions are averaged (the item's data: an AverageKind).
    QComboBox* averageBox() const { return average_; }
    QPushButton* calibrationButton() const { return calButton_; }
    QPushButton* checkButton() const { return check_; }
    QPushButton* measureButton() const { return measure_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* autoEqButton() const { return autoEq_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* connectionLabel() const { return connection_; }
    CEqPanel* preview() const { return preview_; }
    CImpulseView* impulseView() const { return impulse_; }

    // For the screenshots: the states a user sees, without running audio.
    void showLevelForScreenshot(const LevelCheck& level);
    void showProgressForScreenshot(double fraction);
    void showResultForScreenshot(const AveragedResponse& result, const ImpulseResponse& ir,
                                 double peak);

    // Shows whether a measurement can start (an amplifier is connected, devices exist); ends the
    // look of a sweep's screenshot.
    void updateAvailability();

signals:
    // A level check or a sweep ended (done, failed or cancelled), mutes put back.
    void finished();

public slots:
    // Close: while a run goes on it is cancelled first, and the dialog closes when it ends.
    void reject() override;

private:
    struct Shared; // what the worker's messages find the dialog through
    class GuiSwitch;
    struct Sweep; // a finished sweep, made ready for the window on the worker

    EditorContext& editor_;
    std::vector<AudioBackend*> audio_;
    int bank_;
    QPointer<CPage> page_;
    QPointer<CEqPanel> pageGraph_;
    bool english_;
    Dsp muteDsp_; // the mute words and group mutes; never part of an edit
    std::shared_ptr<Shared> shared_;

    QComboBox *play_, *record_, *input_, *speaker_, *smoothing_, *reference_, *average_;
    QDoubleSpinBox *seconds_, *levelDb_;
    QSpinBox* positions_;
    QLabel *calLabel_, *status_, *connection_;
    QPushButton *calButton_, *check_, *measure_, *cancel_, *save_, *autoEq_, *close_;
    QProgressBar* progress_;
    CEqPanel* preview_;
    QWidget* spreadLayer_;
    CImpulseView* impulse_;
    int watchTimer_ = 0;
    int pageTimer_ = 0;       // the page's graph takes the result a moment after this one
    int turnTimer_ = 0;       // the controls and figures take it a turn after the graphs
    EqBankState previewBank_; // the bands the preview graph shows

    std::optional<MicCalibration> calibration_;
    QString calibrationPath_;
    Stage stage_ = Stage::Idle;
    bool switched_ = false;
    bool sweepLook_ = false; // a sweep's screenshot
    bool closeWhenDone_ = false;
    bool lost_ = false;       // the amplifier went away during the run
    int previousSource_ = -1; // the music source to put back, when it was switched
    std::unique_ptr<std::thread> worker_;
    std::unique_ptr<std::thread> ended_; // the last run's worker, done but not yet joined
    std::atomic<bool> stop_{false};      // cancel the run
    std::optional<LevelCheck> level_;
    std::vector<FrequencyResponse> responses_;
    std::vector<MeasureIssue> warnings_;
    AveragedResponse result_;
    MeasureOutcome last_; // its impulse response cut to what the impulse view draws
    MeasureSetup lastSetup_;
    AverageKind averaged_ = AverageKind::Power; // how the result's positions were averaged

    QString t(const char* zh, const char* en) const;
    void showAvailability();
    bool pickDevices(AudioBackend*& backend, MeasureDevices& devices, QString& why) const;
    MeasureSetup setup() const;
    void chooseCalibration();
    void startLevelCheck();
    void startSweep();
    bool begin(Stage stage, AudioBackend*& backend, MeasureDevices& devices);
    void runWorker(std::function<void()> work);
    void onProgress(double fraction);
    void endLevelCheck(LevelCheck level, MeasureIssue error);
    void endSweep(Sweep sweep);
    void finishRun();
    // The result swapped in at once (the screenshots): its graphs, its figures, the page's.
    void showResult();
    void showGraphs();
    void showSummary();
    void showOnPage();
    // The page's graph takes the result in a later turn, so that its repaint is not the
    // dialog's.
    void showOnPageLater();
    void stopTimer(int& id);
    void saveMeasurement();
    void openAutoEq();
    void cancelRun();
    // On the GUI thread: the worker's switching requests.
    bool soloNow(const std::vector<int>& speakers);
    bool restoreNow();
    QString failureText(const MeasureIssue& error) const;
};

// What went wrong with a measurement, or a note about one, in the user's language.
QString measureProblemText(const MeasureIssue& issue, bool english);

// Asks for a microphone calibration file and reads it. A file that is none is refused with a box
// that says why; nothing comes back then or when the user cancels, so the previous choice stays.
struct ChosenCalibration {
    QString path;
    MicCalibration calibration;
};
std::optional<ChosenCalibration> askMicCalibration(QWidget* parent, Prompter& prompter,
                                                   bool english);

// Opens the dialog for a bank's graph (or the Main's without one).
CMeasureDlg* openMeasure(EditorContext& editor, int bank, CPage* page, CEqPanel* graph,
                         QWidget* parent);

} // namespace q7
