// The command line: an optional document, --device, --settings-dir, --status-file, --record,
// --metrics, --help and --version.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {

struct CommandLine {
    QString document;                                  // file to open instead of a new one
    std::vector<std::pair<int, std::string>> devices;  // --device COMn=PATH, this run only
    QString settingsDir;                               // --settings-dir DIR
    QString statusFile;                                // --status-file FILE
    QString recordFile;                                // --record FILE
    QString metrics;                                   // --metrics [ADDRESS:]PORT
    bool help = false;
    bool version = false;
    QString error;  // set when the line cannot be used; the program then stops
};

// args without the program name. Switches of the Windows shell and automation (/dde,
// /Automation, /Embedding, /p, /pt, /RegServer, /UnregServer) mean nothing here and are skipped.
CommandLine ParseCommandLine(const QStringList& args);
QString UsageText();
QString VersionText();

}  // namespace kestrel
