// A main frame for widget tests: file names and export targets come from the
// test, file-error message boxes are collected instead of shown.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "app/MainFrame.h"

namespace testsupport {

class CTestFrame : public CMainFrame {
public:
    QStringList m_chosen;
    QStringList m_errors;
    // The export dialog's answer; an empty target cancels.
    QString m_exportTarget;
    ExportKind m_exportKind = ExportKind::BeatsCsv;

    void ShowErrorMessage(const QString& text) override { m_errors.append(text); }

protected:
    QStringList PromptForFileNames() override { return m_chosen; }
    bool PromptForExportTarget(const CVitrelDoc*, QString* target, ExportKind* kind) override
    {
        *target = m_exportTarget;
        *kind = m_exportKind;
        return !m_exportTarget.isEmpty();
    }
};

// Runs posted events, deferred deletions included.
inline void Settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// Runs check on the first top-level dialog of type T once it is shown (for
// modal dialogs the code under test opens); gives up after ten seconds.
template <typename T>
void WhenShown(std::function<void(T*)> check)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dlg = qobject_cast<T*>(w); dlg && dlg->isVisible()) {
                timer->stop();
                timer->deleteLater();
                check(dlg);
                return;
            }
        }
    });
    QTimer::singleShot(10000, timer, [timer] { timer->deleteLater(); });
    timer->start();
}

}  // namespace testsupport
