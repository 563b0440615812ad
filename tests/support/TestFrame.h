// A main frame for widget tests: file names come from the test, file-error
// message boxes are collected instead of shown.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QStringList>

#include "app/MainFrame.h"

namespace testsupport {

class CTestFrame : public CMainFrame {
public:
    QStringList m_chosen;
    QStringList m_errors;

    void ShowErrorMessage(const QString& text) override { m_errors.append(text); }

protected:
    QStringList PromptForFileNames() override { return m_chosen; }
};

// Runs posted events, deferred deletions included.
inline void Settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

}  // namespace testsupport
