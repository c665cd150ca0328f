#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

class QWidget;

// The questions the program asks the user. Each goes through a replaceable function, so that
// tests can answer at once instead of a modal dialog waiting for a click; an empty function
// brings back the dialog.
namespace Prompts {

enum class SaveAnswer { Save, Discard, Cancel };

// Receives the parent widget and the full question text.
using SaveChangesQuestion = std::function<SaveAnswer(QWidget *, const QString &)>;
using YesNoQuestion = std::function<bool(QWidget *, const QString &)>;
// Returns the chosen file name, or a null string when cancelled.
using FileNameQuestion = std::function<QString(QWidget *)>;

void setSaveChangesQuestion(SaveChangesQuestion question);
void setRecoveryQuestion(YesNoQuestion question);
void setSaveFileNameQuestion(FileNameQuestion question);
void setOpenFileNameQuestion(FileNameQuestion question);

// "Save changes to <name>?" with Save, Discard and Cancel.
SaveAnswer askSaveChanges(QWidget *parent, const QString &name);
// "Recover unsaved work from <time>?" with Yes and No.
bool askRecover(QWidget *parent, const QDateTime &when);
// The save dialog of "&Save" and the open dialog of "&Open".
QString askSaveFileName(QWidget *parent);
QString askOpenFileName(QWidget *parent);

QString saveChangesText(const QString &name);
QString recoverText(const QDateTime &when);

} // namespace Prompts
