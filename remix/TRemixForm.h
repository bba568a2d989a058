// The remix dialog "Remix Setting": volume and pan of Master-L, Master-R, Slave-L and
// Slave-R, set in the grid or by clicking the pan/volume picture. The MixSettings block
// lives here for the whole run and is handed to the output-only job; it starts with the
// synchronisation's own mix at every program start.
//
// Thread safety: main thread only. The output-only job reads Mix() on the worker while
// the dialog is closed; the job list cannot reopen the dialog while a job runs.
#pragma once

#include <QDialog>
#include <QImage>
#include <QWidget>

#include "remix/RemixSettings.h"

class QDialogButtonBox;
class QLabel;
class QTableWidget;

namespace tandem {

class TRemixForm;

// Image1: shows the picture and passes mouse releases to the dialog.
class RemixPictureView : public QWidget {
    Q_OBJECT
public:
    explicit RemixPictureView(TRemixForm& form, QWidget* parent);
    QImage Picture;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TRemixForm& form_;
};

class TRemixForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 428;
    static constexpr int kClientHeight = 230;

    explicit TRemixForm(QWidget* parent = nullptr);

    MixSettings& Mix() { return mix_; }
    const MixSettings& Mix() const { return mix_; }
    // Shows the dialog modally, centred on its parent, naming the job it remixes.
    // Returns QDialog::Accepted for OK; Cancel, Esc and the title bar's close give
    // Rejected and put the mix back as it was before.
    int ShowModal(const QString& job = {});

    // Optionally rewrites all cells from the settings, then redraws the picture.
    void RefreshView(bool refillGrid);
    // Every edit of a cell: parsed, clamped and stored; the cell keeps the typed text.
    void StringGrid1SetEditText(int column, int row, const QString& text);
    // A click on the picture sets one channel (see ClickChannel).
    void Image1MouseUp(Qt::MouseButton button, int x, int y);

    QTableWidget* StringGrid1 = nullptr;
    RemixPictureView* Image1 = nullptr;
    QLabel* JobName = nullptr;
    QDialogButtonBox* Buttons = nullptr;

private:
    MixSettings mix_ = kDefaultMix;
    bool refilling_ = false;
};

}  // namespace tandem
