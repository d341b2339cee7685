#include "app/CommandLine.h"

#include <algorithm>

#include <QCommandLineParser>
#include <QStringList>

#include "audio/OutputChoice.h"

namespace mb {

namespace {

constexpr int kUsageError = 2;

CommandLine Failed(const QString& message, const QString& help) {
    CommandLine line;
    line.exitText = (QStringLiteral("marrowbeat: ") + message + "\n\n" + help).toStdString();
    line.exitStatus = kUsageError;
    return line;
}

} // namespace

CommandLine CommandLine::Parse(const std::vector<std::string>& arguments) {
    // The options are the leading "--" arguments, with the values of those that take one
    // ("--name value" or "--name=value"); the rest is the path.
    static const std::vector<std::string> kTakeValues = {"--audio-api", "--audio-device",
                                                         "--buffer-frames"};
    size_t end = 0;
    bool endMarker = false;
    while (end < arguments.size() && arguments[end].rfind("--", 0) == 0) {
        if (arguments[end] == "--") {
            endMarker = true;
            break;
        }
        const bool takesValue =
            std::find(kTakeValues.begin(), kTakeValues.end(), arguments[end]) != kTakeValues.end();
        end += takesValue && end + 1 < arguments.size() ? 2 : 1;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription("A step sequencer for WAV sounds.");
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringLiteral("help"), "Show this help and exit.");
    const QCommandLineOption audioApi(QStringLiteral("audio-api"),
                                      "Sound output back end: pulse (PulseAudio or PipeWire), "
                                      "alsa or jack.",
                                      "api");
    const QCommandLineOption audioDevice(QStringLiteral("audio-device"),
                                         "Sound output device, by name.", "name");
    const QCommandLineOption bufferFrames(QStringLiteral("buffer-frames"),
                                          "Sound output buffer, 64 to 2048 frames.", "frames");
    const QCommandLineOption link(QStringLiteral("link"),
                                  "Play in an Ableton Link session for this run.");
    const QCommandLineOption jackTransport(
        QStringLiteral("jack-transport"),
        "Follow the JACK transport for this run (with the JACK sound output).");
    parser.addOptions({help, audioApi, audioDevice, bufferFrames, link, jackTransport});
    parser.addPositionalArgument("setup", "The setup file to open (the rest of the line).",
                                 "[--] [SETUP.mbx]");
    const QString usage = parser.helpText();

    QStringList options{"marrowbeat"};
    for (size_t i = 0; i < end; ++i)
        options << QString::fromStdString(arguments[i]);
    if (!parser.parse(options))
        return Failed(parser.errorText(), usage);

    CommandLine line;
    if (parser.isSet(help)) {
        line.exitText = usage.toStdString();
        return line;
    }
    if (parser.isSet(audioApi)) {
        const QString api = parser.value(audioApi);
        if (api != "pulse" && api != "alsa" && api != "jack")
            return Failed("unknown sound back end '" + api + "' (pulse, alsa or jack)", usage);
        line.audioApi = api.toStdString();
    }
    if (parser.isSet(audioDevice))
        line.audioDevice = parser.value(audioDevice).toStdString();
    if (parser.isSet(bufferFrames)) {
        bool ok = false;
        const int frames = parser.value(bufferFrames).toInt(&ok);
        if (!ok || frames < OutputChoice::kMinBufferFrames ||
            frames > OutputChoice::kMaxBufferFrames)
            return Failed("the buffer must be 64 to 2048 frames", usage);
        line.bufferFrames = frames;
    }
    line.link = parser.isSet(link);
    line.jackTransport = parser.isSet(jackTransport);
    if (line.link && line.jackTransport)
        return Failed("--link and --jack-transport exclude each other", usage);

    const size_t first = endMarker ? end + 1 : end;
    for (size_t i = first; i < arguments.size(); ++i) {
        if (i > first)
            line.setupPath += ' ';
        line.setupPath += arguments[i];
    }
    return line;
}

} // namespace mb
