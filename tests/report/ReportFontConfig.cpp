// Linked into the report's and the end-to-end tests: before anything starts
// fontconfig, it is pointed at the configuration that lists only the fonts
// the install script brings, so that the tests pass whatever else a machine
// has installed. VANTORO_TEST_FONTCONFIG names another configuration to run
// them with (a machine's own, with further fonts).
#include <QByteArray>
#include <QtGlobal>

namespace {

const bool kConfigured = [] {
    const QByteArray other = qgetenv("VANTORO_TEST_FONTCONFIG");
    qputenv("FONTCONFIG_FILE", other.isEmpty() ? QByteArray(VANTORO_REPORT_FONTS_CONF) : other);
    return true;
}();

} // namespace
