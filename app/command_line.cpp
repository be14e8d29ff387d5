#include "app/command_line.h"

#include <QCommandLineParser>

namespace {

const QString kVersionText = QStringLiteral("tarnwick-panel 1.17\n");

// Options the Qt application object takes for itself (it removes them from
// the arguments later); they are not ours to reject.
bool IsQtOption(const QString& arg, bool* takesValue)
{
    static const QStringList withValue = {
        QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"),   QStringLiteral("qwindowgeometry"),    QStringLiteral("qwindowtitle"),
        QStringLiteral("qwindowicon"), QStringLiteral("display"),         QStringLiteral("geometry"),
        QStringLiteral("style"),    QStringLiteral("stylesheet"),         QStringLiteral("session"),
        QStringLiteral("name"),     QStringLiteral("title"),              QStringLiteral("visual")};
    static const QStringList flags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"),  QStringLiteral("dograb"),
                                      QStringLiteral("sync")};
    if (!arg.startsWith(QLatin1Char('-')) || arg.startsWith(QStringLiteral("--"))) return false;
    const QString name = arg.mid(1).section(QLatin1Char('='), 0, 0);
    if (flags.contains(name)) {
        *takesValue = false;
        return true;
    }
    if (withValue.contains(name)) {
        *takesValue = !arg.contains(QLatin1Char('='));
        return true;
    }
    return false;
}

// helpText() names the program after the application object, which does not
// exist yet: the first line is ours.
QString UsageText(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    const qsizetype eol = text.indexOf(QLatin1Char('\n'));
    return QStringLiteral("Usage: tarnwick-panel [options]") + (eol < 0 ? QString() : text.mid(eol));
}

}  // namespace

PanelCommandLine ParsePanelCommandLine(const QStringList& args)
{
    PanelCommandLine result;

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Configures the Tarnwick RF module and its carrier board."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOpt({QStringLiteral("h"), QStringLiteral("help")},
                                     QStringLiteral("Shows this help and exits."));
    const QCommandLineOption versionOpt({QStringLiteral("v"), QStringLiteral("version")},
                                        QStringLiteral("Shows the version and exits."));
    const QCommandLineOption portOpt(QStringLiteral("port"),
                                     QStringLiteral("Adds a serial device (a path or a name like ttyUSB0) to the "
                                                    "port list and selects it."),
                                     QStringLiteral("PATH"));
    const QCommandLineOption simOpt(QStringLiteral("simulate"),
                                    QStringLiteral("Starts a virtual module on a pseudo-terminal and selects its "
                                                   "port."));
    const QCommandLineOption resetOpt(QStringLiteral("reset-settings"),
                                      QStringLiteral("Starts with the start values and forgets the remembered "
                                                     "settings."));
    const QCommandLineOption profileOpt(QStringLiteral("profile"),
                                        QStringLiteral("Loads a configuration profile onto the Config Memory page."),
                                        QStringLiteral("FILE"));
    parser.addOption(helpOpt);
    parser.addOption(versionOpt);
    parser.addOption(portOpt);
    parser.addOption(simOpt);
    parser.addOption(resetOpt);
    parser.addOption(profileOpt);

    const QString usage = UsageText(parser);
    const auto fail = [&](const QString& what) {
        result.action = PanelCommandLine::Action::Exit;
        result.exitCode = 2;
        result.err = QStringLiteral("tarnwick-panel: %1\n\n%2").arg(what, usage);
        return result;
    };

    QStringList ours;
    for (int i = 0; i < args.size(); ++i) {
        bool takesValue = false;
        if (i > 0 && IsQtOption(args[i], &takesValue)) {
            if (takesValue) ++i;
            continue;
        }
        ours << args[i];
    }
    if (!parser.parse(ours)) return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(helpOpt)) {
        result.action = PanelCommandLine::Action::Exit;
        result.out = usage;
        return result;
    }
    if (parser.isSet(versionOpt)) {
        result.action = PanelCommandLine::Action::Exit;
        result.out = kVersionText;
        return result;
    }
    // The window selects one port: a second would be dropped without a word.
    for (const QCommandLineOption* one : {&portOpt, &profileOpt})
        if (parser.values(*one).size() > 1)
            return fail(QStringLiteral("--%1 is given twice: the window takes one (Program Pair and the Link Test "
                                       "choose their two ports in their own windows)")
                            .arg(one->names().constFirst()));
    if (parser.isSet(portOpt)) {
        result.port = parser.value(portOpt);
        if (result.port.isEmpty()) return fail(QStringLiteral("--port needs a device path"));
    }
    if (parser.isSet(profileOpt)) {
        result.profile = parser.value(profileOpt);
        if (result.profile.isEmpty()) return fail(QStringLiteral("--profile needs a file"));
    }
    result.simulate = parser.isSet(simOpt);
    result.resetSettings = parser.isSet(resetOpt);
    return result;
}
