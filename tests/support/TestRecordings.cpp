#include "TestRecordings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

namespace testsupport {

QString WriteSamples(const QString& dir, const QString& name, const std::vector<int16_t>& samples)
{
    const QString path = QDir(dir).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(reinterpret_cast<const char*>(samples.data()), static_cast<qint64>(samples.size() * sizeof(int16_t)));
    return path;
}

QString WriteSparseFile(const QString& dir, const QString& name, uint64_t byteCount)
{
    const QString path = QDir(dir).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(static_cast<qint64>(byteCount)))
        return {};
    return path;
}

std::vector<int16_t> SpikeTrain(uint32_t count, uint32_t period, int16_t height)
{
    std::vector<int16_t> samples(count, 0);
    for (uint32_t peak = period / 2; peak < count; peak += period) {
        for (int d = -4; d <= 4; ++d) {
            const int64_t i = static_cast<int64_t>(peak) + d;
            if (i >= 0 && i < static_cast<int64_t>(count))
                samples[static_cast<size_t>(i)] = static_cast<int16_t>(height * (5 - std::abs(d)) / 5);
        }
    }
    return samples;
}

QString RunSynth(const QStringList& args)
{
#ifdef VITREL_SYNTH_EXE
    if (!QFile::exists(QStringLiteral(VITREL_SYNTH_EXE)))
        return {};
    QProcess process;
    process.start(QStringLiteral(VITREL_SYNTH_EXE), args);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed().split(QLatin1Char('\n')).value(0);
#else
    (void)args;
    return {};
#endif
}

void IsolateSettings(const QString& dir)
{
    QSettings::setDefaultFormat(QSettings::NativeFormat);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
}

}  // namespace testsupport
