// SPDX-License-Identifier: GPL-3.0-or-later
// The room tuning assistant: choose the speakers, positions, target and limits; measure every
// speaker from every position on a worker (the window stays live, Cancel stops at once); show the
// computed levels, delays, Sub crossover and polarity and EQ with their predictions before
// anything is sent; apply them as one undo step; check them with a second measurement; save a
// report beside the mode file.
#pragma once

#include "tune/report.h"
#include "tune/run.h"

#include <QDialog>
#include <QImage>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;

namespace q7 {

class AudioBackend;
class EditorContext;

// What the assistant needs from the program around it.
struct TuneServices {
    // The playback and recording devices (the simulated ones with the simulated amplifier); null
    // or returning null: none.
    std::function<std::unique_ptr<AudioBackend>()> makeAudio;
    // Moves the simulated room's microphone (called on the worker); null on real hardware.
    std::function<void(int position)> placeSimulatedMicrophone;
    // Draws a chart; null: no charts shown.
    std::function<QImage(const Chart&, int width, int height)> drawChart;
    std::function<std::unique_ptr<ChartPainter>()> makePainter;
    // The folder the report goes to (beside the mode file); empty: the user is asked.
    std::function<QString()> reportDir;
};

class CTuneDlg : public QDialog {
    Q_OBJECT
public:
    enum Step { Setup, Measure, Results, Check };

    CTuneDlg(EditorContext& editor, TuneServices services, QWidget* parent);
    ~CTuneDlg() override;

    Step step() const;
    bool busy() const { return worker_ != nullptr; }
    const TunePlan* plan() const { return plan_ ? &*plan_ : nullptr; }
    const TuneVerification* verification() const {
        return verification_ ? &*verification_ : nullptr;
    }
    // The options the setup step holds now.
    TuneOptions options() const;
    QString reportPath() const { return reportPath_; }
    bool applied() const { return applied_; }

    // The controls, for the tests and the screenshots.
    QCheckBox* speakerBox(int speaker) const { return speakers_[std::size_t(speaker)]; }
    QSpinBox* lowBox(int speaker) const { return low_[std::size_t(speaker)]; }
    QSpinBox* highBox(int speaker) const { return high_[std::size_t(speaker)]; }
    QSpinBox* positionsBox() const { return positions_; }
    QComboBox* targetBox() const { return target_; }
    QDoubleSpinBox* maxBoostBox() const { return maxBoost_; }
    QDoubleSpinBox* sweepBox() const { return sweepSeconds_; }
    QComboBox* playBox() const { return play_; }
    QComboBox* recordBox() const { return record_; }
    QPushButton* calibrationButton() const { return calButton_; }
    QLabel* calibrationLabel() const { return calLabel_; }
    QPushButton* detectButton() const { return detect_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* continueButton() const { return continue_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* backButton() const { return back_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLabel() const { return status_; }
    QTableWidget* resultsTable() const { return results_; }
    QTableWidget* checkTable() const { return checks_; }
    QComboBox* chartBox() const { return chartChoice_; }
    QLabel* chartLabel() const { return chart_; }

    const std::optional<RoomMeasurement>& measured() const { return measured_; }
    QLabel* notesLabel() const { return notes_; }
    QLabel* checkNotesLabel() const { return checkNotes_; }
    // Every speaker's row and the whole chart show at this size.
    QSize sizeHint() const override;

signals:
    // A stage of the work ended (the tests wait for it).
    void workDone();

protected:
    void reject() override;
    void resizeEvent(QResizeEvent* e) override;

private:
    EditorContext& editor_;
    TuneServices services_;
    const bool english_;

    QStackedWidget* pages_;
    std::array<QCheckBox*, 8> speakers_{};
    std::array<QSpinBox*, 8> low_{}, high_{};
    QSpinBox* positions_;
    QComboBox* target_;
    QDoubleSpinBox* maxBoost_;
    QDoubleSpinBox* sweepSeconds_;
    QComboBox *play_, *record_;
    QLabel* calLabel_;
    QPushButton* calButton_;
    std::optional<MicCalibration> calibration_;
    QPushButton *detect_, *start_, *continue_, *cancel_, *apply_, *save_, *back_, *close_;
    QProgressBar* progress_;
    QLabel *status_, *prompt_, *summary_, *checkSummary_, *chart_, *checkChart_;
    QLabel *notes_, *checkNotes_;
    QTableWidget *results_, *checks_;
    QComboBox *chartChoice_, *checkChartChoice_;

    // The work on the worker: one run at a time.
    std::unique_ptr<std::thread> worker_;
    std::unique_ptr<AudioBackend> audio_;
    std::atomic<bool> cancelled_{false};
    std::mutex placeMutex_;
    int placeAnswer_ = 0; // 0 waiting, 1 go on, -1 cancel
    bool detecting_ = false;
    // Where the run is: for the status line and the progress over every position.
    bool checking_ = false;
    int position_ = 0, playing_ = -1;
    std::vector<int> order_; // the speakers the run plays, in order
    // The group mutes as they were, put back if the amplifier goes away mid-sweep.
    std::vector<int> muteCells_, mutesBefore_;
    bool mutesOwed_ = false;
    int mutesTimer_ = 0;

    TuneOptions ran_; // the options of the measurement shown
    MeasureDevices ranDevices_;
    std::optional<RoomMeasurement> measured_;
    std::optional<TunePlan> plan_;
    std::optional<TuneVerification> verification_;
    bool applied_ = false;
    QString reportPath_;

    QString tr2(const char* zh, const char* en) const;
    QString speakerName(int speaker) const;
    void buildSetup(QWidget* page);
    void buildMeasure(QWidget* page);
    void buildResults(QWidget* page);
    void buildCheck(QWidget* page);

    // The devices as the set-up step lists them (the item's data: its channels).
    void listDevices();
    MeasureDevices chosenDevices() const;
    void chooseCalibration();
    bool haveAudio();
    void startWork(bool detect);
    void runWorker(std::function<void(const TuneCallbacks&)> work);
    TuneCallbacks callbacks();
    void askPlacement(int position, int positions, bool returning);
    void answerPlacement(int answer);
    void onProgress(const QString& stage, double fraction);
    void onPlaying(int speaker);
    std::function<void(int)> playingReporter();
    void onMeasured(std::shared_ptr<RoomRun> run, std::shared_ptr<TunePlan> plan);
    void onDetected(std::shared_ptr<RoomRun> run);
    void onChecked(std::shared_ptr<TuneCheckRun> run);
    void finishWorker();
    void failed(const QString& why, bool linkLost);
    void putMutesBack();
    void applyPlan();
    void saveReport();
    void fillResults();
    void fillChecks();
    void showChart(QComboBox* choice, QLabel* into, const TuneVerification* check);
};

} // namespace q7
