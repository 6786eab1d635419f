// The command line of the program.
#include "app/CommandLine.h"

#include <QRegularExpression>

namespace kestrel {

namespace {

bool IsShellSwitch(const QString& arg) {
    static const QStringList names{
        QStringLiteral("dde"),         QStringLiteral("automation"), QStringLiteral("embedding"),
        QStringLiteral("p"),           QStringLiteral("pt"),         QStringLiteral("regserver"),
        QStringLiteral("unregserver"), QStringLiteral("unregister"),
    };
    if (arg.size() < 2 || (arg[0] != u'/' && arg[0] != u'-') || arg.startsWith(u"--")) {
        return false;
    }
    return names.contains(arg.mid(1).toLower());
}

bool ParseDevice(const QString& value, CommandLine& line) {
    static const QRegularExpression form(QStringLiteral("^COM([0-9]{1,3})=(.+)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = form.match(value);
    const int n = m.hasMatch() ? m.captured(1).toInt() : 0;
    if (n < 1 || n > 255) {
        line.error =
            QStringLiteral("invalid --device '%1': expected COMn=PATH with n from 1 to 255")
                .arg(value);
        return false;
    }
    line.devices.emplace_back(n, m.captured(2).toStdString());
    return true;
}

// The value of an option that takes one; false when it cannot be used.
bool TakeValue(const QString& name, const QString& value, CommandLine& line) {
    if (name == u"--device") {
        return ParseDevice(value, line);
    }
    if (name == u"--settings-dir") {
        line.settingsDir = value;  // empty: the user's own settings
        return true;
    }
    if (value.isEmpty()) {
        line.error = QStringLiteral("option '%1' needs a value").arg(name);
        return false;
    }
    if (name == u"--status-file") {
        line.statusFile = value;
    } else if (name == u"--metrics") {
        line.metrics = value;
    } else {
        line.recordFile = value;
    }
    return true;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || arg == u"-" || !arg.startsWith(u'-')) {
            if (!optionsEnded && IsShellSwitch(arg)) {
                continue;
            }
            if (!line.document.isEmpty()) {
                line.error = QStringLiteral("only one document can be opened: '%1'").arg(arg);
                return line;
            }
            line.document = arg;
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
        } else if (arg == u"--help" || arg == u"-h") {
            line.help = true;
        } else if (arg == u"--version" || arg == u"-v") {
            line.version = true;
        } else if (arg == u"--device" || arg == u"--settings-dir" || arg == u"--status-file" ||
                   arg == u"--record" || arg == u"--metrics") {
            if (i + 1 >= args.size()) {
                line.error = QStringLiteral("option '%1' needs a value").arg(arg);
                return line;
            }
            if (!TakeValue(arg, args[++i], line)) {
                return line;
            }
        } else if (const qsizetype eq = arg.indexOf(u'='); eq > 2 && arg.startsWith(u"--")) {
            const QString name = arg.left(eq);
            if (name != u"--device" && name != u"--settings-dir" && name != u"--status-file" &&
                name != u"--record" && name != u"--metrics") {
                line.error = QStringLiteral("unknown option '%1'").arg(name);
                return line;
            }
            if (!TakeValue(name, arg.mid(eq + 1), line)) {
                return line;
            }
        } else if (IsShellSwitch(arg)) {
            continue;
        } else {
            line.error = QStringLiteral("unknown option '%1'").arg(arg);
            return line;
        }
    }
    return line;
}

QString UsageText() {
    return QStringLiteral(
        "Usage: kestrel [OPTION]... [FILE.cfg]\n"
        "Monitor a 34 Mbit/s multiplexer on a serial port.\n"
        "\n"
        "  --device COMn=PATH   use the device PATH for port COMn in this run\n"
        "                       (default /dev/ttyS{n-1}, or the path stored in the\n"
        "                       settings group \"Devices\", value \"COMn\")\n"
        "  --settings-dir DIR   keep the settings in DIR instead of the user's own\n"
        "                       (also KESTREL_SETTINGS_DIR)\n"
        "  --record FILE.csv    start statistics at start-up into FILE.csv and its\n"
        "                       companion FILEG821.csv, as \"On\" does with that name;\n"
        "                       start-up fails when they cannot be created\n"
        "  --status-file FILE   at every supervision tick (1 s and 2.5 s) replace FILE\n"
        "                       with a JSON picture of the window: the seven status-bar\n"
        "                       texts (\"panes\"), \"frameCount\", the alarm-bar LEDs by id\n"
        "                       (\"alarmLeds\"), the tributary LEDs of the active pane as\n"
        "                       four rows of 16 (\"tributaryLeds\"), the four BER texts\n"
        "                       (\"ber\"), \"statistics\" (on or off), a \"sequence\" number\n"
        "                       and \"closed\" (true in the last write, after the window\n"
        "                       has closed); LEDs are \"o\" off, \"r\" red, \"y\" yellow\n"
        "                       (also KESTREL_STATUS_FILE)\n"
        "  --metrics [ADDRESS:]PORT\n"
        "                       serve Prometheus metrics of the port's MUX (named COMn)\n"
        "                       at http://ADDRESS:PORT/metrics; without ADDRESS on\n"
        "                       127.0.0.1 only; start-up fails when it cannot listen\n"
        "  -h, --help           display this help and exit\n"
        "  -v, --version        output version information and exit\n");
}

QString VersionText() {
    return QStringLiteral("kestrel 1.0.0.1\n");
}

}  // namespace kestrel
