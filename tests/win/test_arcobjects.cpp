// The host's ArcObjects libraries: stand-in COM servers copied under the
// libraries' names into a scratch host's "bin" folder, registered for real,
// with the ArcObjects row recorded.
#include "repair/arcobjects.h"

#include "support/arc_registry.h"
#include "support/bench.h"
#include "support/com_markers.h"

#include <doctest.h>

#include <string>
#include <vector>

namespace {

const char registers[] = "com_server.dll";
const char failsToRegister[] = "com_server_fails.dll";
const char notSelfRegistering[] = "com_unregister_only.dll";

using Lines = std::vector<std::string>;

// A host folder (its name holds a space) and a registry without earlier marks.
struct ArcHost {
    ArcMachine machine;
    ScratchFolder folder{"arc host"};
    MessageRecorder recorder;
    ScopedComMarkers markers;

    void Install(const char* fixture, const char* library) const
    {
        REQUIRE(CopyFixture(fixture, folder.Path() + "\\bin\\" + library));
    }
    Lines Messages() const { return recorder.Lines(); }
};

} // namespace

TEST_CASE("ArcObjects: 9.1 registers bin\\Geometry.dll, with or without a trailing backslash")
{
    for (const char* suffix : {"", "\\"}) {
        CAPTURE(suffix);
        ArcHost host;
        host.machine.SetHostVersion(std::string("9.1"));
        host.Install(registers, "Geometry.dll");
        host.Install(registers, "SpatialReference.dll");

        CHECK(RegisterArcObjects(host.folder.Path() + suffix, host.recorder.Window()));

        CHECK(Registrations() == Lines{"Geometry.dll"});
        CHECK(host.Messages() == Lines{"text 1010 Geometry.dll", "progress 1007 100"});
    }
}

TEST_CASE("ArcObjects: no RealVersion tries Geometry.dll, then SpatialReference.dll")
{
    ArcHost host;
    host.machine.SetHostVersion(std::nullopt);
    host.Install(registers, "Geometry.dll");
    host.Install(registers, "SpatialReference.dll");
    host.Install(registers, "ESRICore.olb");

    CHECK(RegisterArcObjects(host.folder.Path(), host.recorder.Window()));

    CHECK(Registrations() == Lines{"Geometry.dll", "SpatialReference.dll"});
    CHECK(host.Messages() == Lines{"text 1010 Geometry.dll", "progress 1007 50", "text 1010 SpatialReference.dll",
                                   "progress 1007 100"});
}

TEST_CASE("ArcObjects: 8.3.0 and its four libraries, the .olb ones included")
{
    ArcHost host;
    host.machine.SetHostVersion(std::string("8.3.0"));
    host.Install(registers, "Geometry.dll");
    host.Install(registers, "ESRICore.olb");

    SUBCASE("all four self-registering")
    {
        host.Install(registers, "SpatialReference.dll");
        host.Install(registers, "ESRITin.olb");
        CHECK(RegisterArcObjects(host.folder.Path(), host.recorder.Window()));
        CHECK(Registrations() == Lines{"Geometry.dll", "SpatialReference.dll", "ESRICore.olb", "ESRITin.olb"});
        CHECK(host.Messages() == Lines{"text 1010 Geometry.dll", "progress 1007 25", "text 1010 SpatialReference.dll",
                                       "progress 1007 50", "text 1010 ESRICore.olb", "progress 1007 75",
                                       "text 1010 ESRITin.olb", "progress 1007 100"});
    }
    SUBCASE("the last one not self-registering: the bar stops short of 100")
    {
        host.Install(registers, "SpatialReference.dll");
        host.Install(notSelfRegistering, "ESRITin.olb");
        CHECK(RegisterArcObjects(host.folder.Path(), host.recorder.Window()));
        CHECK(Registrations() == Lines{"Geometry.dll", "SpatialReference.dll", "ESRICore.olb"});
        CHECK(host.Messages() == Lines{"text 1010 Geometry.dll", "progress 1007 25", "text 1010 SpatialReference.dll",
                                       "progress 1007 50", "text 1010 ESRICore.olb", "progress 1007 75"});
    }
    SUBCASE("a missing library leaves a gap, no text and no position")
    {
        host.Install(registers, "ESRITin.olb");
        CHECK(RegisterArcObjects(host.folder.Path(), host.recorder.Window()));
        CHECK(Registrations() == Lines{"Geometry.dll", "ESRICore.olb", "ESRITin.olb"});
        CHECK(host.Messages() == Lines{"text 1010 Geometry.dll", "progress 1007 25", "text 1010 ESRICore.olb",
                                       "progress 1007 75", "text 1010 ESRITin.olb", "progress 1007 100"});
    }
    SUBCASE("a failed registration: the bar still advances, then the row ends on failure naming it")
    {
        host.Install(failsToRegister, "SpatialReference.dll");
        host.Install(failsToRegister, "ESRITin.olb");
        CHECK_FALSE(RegisterArcObjects(host.folder.Path(), host.recorder.Window()));
        // The failing library's DllRegisterServer ran: it was loaded and called.
        CHECK(Registrations() == Lines{"Geometry.dll", "SpatialReference.dll", "ESRICore.olb", "ESRITin.olb"});
        CHECK(host.Messages() == Lines{"text 1010 Geometry.dll", "progress 1007 25", "text 1010 SpatialReference.dll",
                                       "progress 1007 50", "text 1010 ESRICore.olb", "progress 1007 75",
                                       "text 1010 ESRITin.olb", "progress 1007 100", "text 1010 SpatialReference.dll",
                                       "status 1008 2"});
    }
    SUBCASE("a null window: the same registrations, nothing sent")
    {
        host.Install(registers, "SpatialReference.dll");
        host.Install(registers, "ESRITin.olb");
        CHECK(RegisterArcObjects(host.folder.Path(), nullptr));
        CHECK(Registrations() == Lines{"Geometry.dll", "SpatialReference.dll", "ESRICore.olb", "ESRITin.olb"});
        CHECK(host.Messages().empty());
    }
}

TEST_CASE("ArcObjects: a version without a table registers nothing and sends nothing")
{
    for (const char* version : {"9.1.0", "9.0", "9.1 ", "8.3", "8.3.0.0", "", "9.0.0.0.0"}) {
        CAPTURE(version);
        ArcHost host;
        host.machine.SetHostVersion(std::string(version));
        host.Install(registers, "Geometry.dll");
        host.Install(registers, "SpatialReference.dll");

        CHECK(RegisterArcObjects(host.folder.Path(), host.recorder.Window()));

        CHECK(Registrations().empty());
        CHECK(host.Messages().empty());
    }
}

TEST_CASE("ArcObjects: the raster environment is written at the end in every case")
{
    ArcHost host;
    host.machine.SetHostVersion(std::string("9.0.0.0"));
    host.machine.CreateRasterKey();
    host.machine.CreateRasterEnvironmentKey();
    host.machine.SetExtensionHome("Codra", "9.0", "E:\\Codra\\");
    const std::string written = std::string("E:\\Codra\\") + '\0';

    SUBCASE("after registering Geometry.dll")
    {
        host.Install(registers, "Geometry.dll");
        CHECK(RegisterArcObjects(host.folder.Path(), host.recorder.Window()));
        CHECK(Registrations() == Lines{"Geometry.dll"});
        CHECK(host.Messages() == Lines{"text 1010 Geometry.dll", "progress 1007 100"});
        // Geometry.dll found no raster home yet: it is written afterwards.
        CHECK(RasterHomeWhenRegistered() == "(absent)");
    }
    SUBCASE("no bin folder at all: nothing registered, the row fails naming the folder")
    {
        CHECK_FALSE(RegisterArcObjects(host.folder.Path(), host.recorder.Window()));
        CHECK(Registrations().empty());
        CHECK(host.Messages() == Lines{"text 1010 " + host.folder.Path() + "\\bin", "status 1008 2"});
    }
    std::optional<RawValue> home = ReadRawValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\ESRI\\Raster\\Environment", "QEX_HOME");
    REQUIRE(home);
    CHECK(home->type == DWORD(REG_SZ));
    CHECK(home->bytes == written);
}
