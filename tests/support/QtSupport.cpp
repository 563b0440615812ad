#include "support/QtSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSettings>
#include <QWidget>

#include "support/Programs.h"

namespace testsupport {

QString WriteSamples(const QString& dir, const QString& name, const std::vector<int16_t>& samples)
{
    const QString path = QDir(dir).filePath(name);
    return QFile::decodeName(WriteSamples(QFile::encodeName(path).toStdString(), samples).c_str());
}

QString WriteSparseFile(const QString& dir, const QString& name, uint64_t byteCount)
{
    const QString path = QDir(dir).filePath(name);
    return QFile::decodeName(WriteSparseFile(QFile::encodeName(path).toStdString(), byteCount).c_str());
}

QString RunSynth(const QStringList& args)
{
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(QFile::encodeName(a).toStdString());
    return QFile::decodeName(SynthRecording(list).c_str());
}

void IsolateSettings(const QString& dir)
{
    QSettings::setDefaultFormat(QSettings::NativeFormat);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
}

bool SaveForInspection(const QImage& image, const char* name)
{
    const QString dir = QStringLiteral(VITREL_TEST_OUTPUT_DIR);
    return QDir().mkpath(dir) && image.save(QDir(dir).filePath(QLatin1String(name)));
}

bool SaveForInspection(QWidget* widget, const char* name)
{
    return SaveForInspection(widget->grab().toImage(), name);
}

}  // namespace testsupport
