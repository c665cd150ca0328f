#include "Prompts.h"

#include "SaveFormat.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>

namespace Prompts {

namespace {

SaveChangesQuestion &saveChangesQuestion()
{
    static SaveChangesQuestion question;
    return question;
}

YesNoQuestion &recoveryQuestion()
{
    static YesNoQuestion question;
    return question;
}

FileNameQuestion &saveFileNameQuestion()
{
    static FileNameQuestion question;
    return question;
}

FileNameQuestion &openFileNameQuestion()
{
    static FileNameQuestion question;
    return question;
}

} // namespace

void setSaveChangesQuestion(SaveChangesQuestion question)
{
    saveChangesQuestion() = std::move(question);
}

void setRecoveryQuestion(YesNoQuestion question)
{
    recoveryQuestion() = std::move(question);
}

void setSaveFileNameQuestion(FileNameQuestion question)
{
    saveFileNameQuestion() = std::move(question);
}

void setOpenFileNameQuestion(FileNameQuestion question)
{
    openFileNameQuestion() = std::move(question);
}

QString saveChangesText(const QString &name)
{
    return QStringLiteral("Save changes to %1?").arg(name);
}

QString recoverText(const QDateTime &when)
{
    return QStringLiteral("Recover unsaved work from %1?")
        .arg(QLocale().toString(when, QLocale::ShortFormat));
}

SaveAnswer askSaveChanges(QWidget *parent, const QString &name)
{
    const QString text = saveChangesText(name);
    if (saveChangesQuestion())
        return saveChangesQuestion()(parent, text);
    const QMessageBox::StandardButton button =
        QMessageBox::question(parent, QCoreApplication::applicationName(), text,
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (button == QMessageBox::Save)
        return SaveAnswer::Save;
    if (button == QMessageBox::Discard)
        return SaveAnswer::Discard;
    return SaveAnswer::Cancel;
}

bool askRecover(QWidget *parent, const QDateTime &when)
{
    const QString text = recoverText(when);
    if (recoveryQuestion())
        return recoveryQuestion()(parent, text);
    return QMessageBox::question(parent, QCoreApplication::applicationName(), text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
}

QString askSaveFileName(QWidget *parent)
{
    if (saveFileNameQuestion())
        return saveFileNameQuestion()(parent);
    QString selected;
    const QString name =
        QFileDialog::getSaveFileName(parent, QCoreApplication::translate("Widget3D", "save file"),
            QStringLiteral("/home"), SaveFormat::filters(), &selected);
    return SaveFormat::pathFor(name, selected);
}

QString askOpenFileName(QWidget *parent)
{
    if (openFileNameQuestion())
        return openFileNameQuestion()(parent);
    return QFileDialog::getOpenFileName(parent,
        QCoreApplication::translate("Widget3D", "load file"), QStringLiteral("/home"),
        QStringLiteral("Files(*.stl *.obj *.3ds)"));
}

} // namespace Prompts
