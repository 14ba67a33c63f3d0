// SPDX-License-Identifier: GPL-3.0-or-later
// What the EQ graph's menu offers beyond copying: filters imported from and exported to the
// text measurement programs write, the response as CSV and the graph as PNG, a measurement shown
// over the graph with a target and the prediction, and the auto-EQ dialog that fits the bank.
#pragma once

#include "eq/auto_eq.h"
#include "eq/filter_text.h"

#include <QDialog>
#include <QString>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QMenu;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace q7 {

class CEqPanel;
class CPage;
class EditorContext;

// The measurement and target each bank's graph shows, kept by the editor while it runs (pages
// come and go); pages reach it through their context.
struct BankOverlay {
    ResponseCurve measurement;
    Target target;
    QString name; // the file's name, for the legend
    QString path;
    double alignLoHz = 20, alignHiHz = 20000; // where the level is matched (the fit's range)
};

class EqOverlays {
public:
    const BankOverlay* find(int bank) const;
    void set(int bank, BankOverlay overlay);
    void setTarget(int bank, const Target& target);
    void clear(int bank);
    void clearAll();

private:
    std::map<int, BankOverlay> banks_;
};

// Shows the graph's bank's measurement, or none.
void showOverlay(const EqOverlays& overlays, CEqPanel* graph);

// Adds the measurement and filter entries for the graph's bank to the page's EQ menu.
void addEqTools(QMenu* menu, CPage* page, EditorContext& editor, CEqPanel* graph);

// Reads a filter file into the bank through the preview; false when it could not be read.
bool importFiltersFrom(CPage* page, EditorContext& editor, int bank, const QString& path);
bool loadMeasurementFrom(EditorContext& editor, CEqPanel* graph, const QString& path);
// What the page does with files dropped on its graph (CPage::dropOnGraph).
void openDroppedOnGraph(CPage* page, EditorContext& editor, CEqPanel* graph,
                        const QStringList& paths);
void openAutoEq(CPage* page, EditorContext& editor, CEqPanel* graph);

// The preview of an import: what each line became, what was changed to fit and what was left
// out. Accepting applies it as one step.
class CEqImportDlg : public QDialog {
    Q_OBJECT
public:
    CEqImportDlg(const ImportPlan& plan, const QString& file, const QString& bankTitle,
                 bool english, QWidget* parent);
    QTableWidget* table() const { return table_; }
    QPushButton* applyButton() const { return apply_; }

private:
    QTableWidget* table_;
    QPushButton* apply_;
};

class CAutoEqDlg : public QDialog {
    Q_OBJECT
public:
    CAutoEqDlg(CPage* page, EditorContext& editor, int bank, QWidget* parent);
    ~CAutoEqDlg() override;

    // Fits on a worker thread; finished() when the result is shown.
    void fit();
    bool fitting() const { return bool(worker_); }
    const FitResult* result() const { return result_.get(); }
    bool setMeasurementFile(const QString& path);
    bool setTargetFile(const QString& path);

    QPushButton* fitButton() const { return fit_; }
    QPushButton* applyButton() const { return apply_; }
    QComboBox* targetBox() const { return targetKind_; }
    QSpinBox* bandsBox() const { return bands_; }
    QDoubleSpinBox* maxBoostBox() const { return maxBoost_; }
    QCheckBox* cutOnlyBox() const { return cutOnly_; }
    // The lock box of a band (from 0), or null when the fit cannot set it.
    QCheckBox* lockBox(int band) const {
        for (const auto& [k, box] : locks_)
            if (k == band)
                return box;
        return nullptr;
    }
    QDoubleSpinBox* lowBox() const { return lo_; }
    QDoubleSpinBox* highBox() const { return hi_; }
    CEqPanel* preview() const { return preview_; }
    QLabel* summary() const { return summary_; }

signals:
    void finished();

private:
    CPage* page_;
    EditorContext& editor_;
    int bank_;
    bool english_;
    ResponseCurve measurement_;
    QString measurementName_;
    ResponseCurve targetCurve_;
    QLabel *measurementLabel_, *targetFileLabel_, *summary_;
    QComboBox* targetKind_;
    QDoubleSpinBox *rise_, *corner_, *tilt_, *lo_, *hi_, *maxBoost_;
    QSpinBox* bands_;
    QCheckBox* cutOnly_;
    std::vector<std::pair<int, QCheckBox*>> locks_; // band (from 0) and its box
    CEqPanel* preview_;
    QPushButton *fit_, *apply_;
    std::unique_ptr<FitResult> result_;
    std::unique_ptr<std::thread> worker_;

    Target target() const;
    void showResult(std::unique_ptr<FitResult> r);
    void applyFit();
    void updateOverlay();
};

} // namespace q7
