// Delivery on a wlroots compositor (sway), into helper processes and foot. Runs inside
// scripts/wayland-session.
#include "WaylandDeliveryFixture.h"
#include "support/SessionTestMain.h"

using namespace quillpost;
using namespace quillpost::test;

class WlrDeliveryTest : public WaylandDeliveryFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { checkSeams(WaylandPlatform::Seams::Wlroots); }
    void init() { skipEarlierActivations(); }
    void deliversOnlyIntoTheTarget() { checkDeliversOnlyIntoTheTarget(); }
    void typesNothingWhenThingsChanged_data() { thingsThatChange(); }
    void typesNothingWhenThingsChanged() { checkTypesNothingWhenThingsChanged(); }
    void pasteLatestTypesIntoTheFocusedWindow() { checkPasteLatest(); }

    void footGetsItsChord() { checkTerminalGetsItsChord(QStringLiteral("foot"), {"--log-level=error"}, QStringLiteral("foot")); }
};

int main(int argc, char **argv)
{
    return sessionTestMain<WlrDeliveryTest>(argc, argv, "QUILLPOST_WAYLAND_SESSION", "wayland");
}

#include "tst_wlrdelivery.moc"
