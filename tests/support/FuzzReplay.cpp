// Plain main for a libFuzzer target: feeds every file of the seed folders
// (compiled in, or given as arguments) to the target once. Built with any
// compiler; CTest runs it on each build.
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    QStringList dirs;
    for (int i = 1; i < argc; ++i)
        dirs << QString::fromLocal8Bit(argv[i]);
    if (dirs.isEmpty())
        dirs << QStringLiteral(TR_SEED_DIR);
    int fed = 0;
    for (const QString& d : dirs) {
        QStringList files;
        if (QFileInfo(d).isDir()) {
            for (const QFileInfo& fi : QDir(d).entryInfoList(QDir::Files, QDir::Name))
                files << fi.filePath();
        } else {
            files << d;
        }
        for (const QString& f : files) {
            QFile file(f);
            if (!file.open(QIODevice::ReadOnly)) {
                fprintf(stderr, "cannot read %s\n", qPrintable(f));
                return 1;
            }
            const QByteArray b = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(b.constData()), size_t(b.size()));
            ++fed;
        }
    }
    printf("replayed %d inputs\n", fed);
    return fed > 0 ? 0 : 1;
}
