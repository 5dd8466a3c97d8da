package com.vantrel.oskel.managedprojects.scci.testing;

import com.vantrel.oskel.managedprojects.scci.testing.TraceFile.Line;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;

/** The trace lines the library writes, as a test expects them. */
public final class TraceLines {
    /** The capability bits the report covers, with their names, in report order. */
    public static final List<Capability> CAPABILITIES = List.of(
            new Capability(0x00000001, "SCC_CAP_REMOVE"),
            new Capability(0x00000002, "SCC_CAP_RENAME"),
            new Capability(0x00000004, "SCC_CAP_DIFF"),
            new Capability(0x00000008, "SCC_CAP_HISTORY"),
            new Capability(0x00000010, "SCC_CAP_PROPERTIES"),
            new Capability(0x00000040, "SCC_CAP_GETCOMMANDOPTIONS"),
            new Capability(0x00000080, "SCC_CAP_QUERYINFO"),
            new Capability(0x00000100, "SCC_CAP_GETEVENTS"),
            new Capability(0x00000200, "SCC_CAP_GETPROJPATH"),
            new Capability(0x00000400, "SCC_CAP_ADDFROMSCC"),
            new Capability(0x00000800, "SCC_CAP_COMMENTCHECKOUT"),
            new Capability(0x00001000, "SCC_CAP_COMMENTCHECKIN"),
            new Capability(0x00002000, "SCC_CAP_COMMENTADD"),
            new Capability(0x00004000, "SCC_CAP_COMMENTREMOVE"),
            new Capability(0x00008000, "SCC_CAP_TEXTOUT"),
            new Capability(0x00200000, "SCC_CAP_ADD_STORELATEST"),
            new Capability(0x00400000, "SCC_CAP_HISTORY_MULTFILE"),
            new Capability(0x00800000, "SCC_CAP_IGNORECASE"),
            new Capability(0x01000000, "SCC_CAP_IGNORESPACE"),
            new Capability(0x02000000, "SCC_CAP_POPULATELIST"),
            new Capability(0x04000000, "SCC_CAP_COMMENTPROJECT"),
            new Capability(0x10000000, "SCC_CAP_DIFFALWAYS"),
            new Capability(0x20000000, "SCC_CAP_GET_NOUI"),
            new Capability(0x40000000, "SCC_CAP_REENTRANT"));

    /** Every bit the report covers. */
    public static final int ALL_REPORTED = CAPABILITIES.stream().mapToInt(Capability::bit)
            .reduce(0, (a, b) -> a | b);

    /** One capability bit of the report. */
    public static final class Capability {
        private final int bit;
        private final String name;

        Capability(int bit, String name) {
            this.bit = bit;
            this.name = name;
        }

        public int bit() {
            return bit;
        }

        public String name() {
            return name;
        }

        @Override
        public String toString() {
            return name;
        }
    }

    private TraceLines() {}

    /** The line that starts a trace: "Setting tracing in PATH level=N". */
    public static Line announcement(String path, long level) {
        return Line.stamped("Setting tracing in " + asFileBytes(path) + " level=" + level);
    }

    /** The capability report for a capability word. */
    public static List<Line> capabilityReport(int capabilities) {
        List<Line> lines = new ArrayList<>();
        lines.add(Line.ctime());
        lines.add(Line.raw("SCCIH: Missing capability"));
        for (Capability cap : CAPABILITIES) {
            if ((capabilities & cap.bit()) == 0) {
                lines.add(Line.raw("No " + cap.name()));
            }
        }
        lines.add(Line.raw("**********"));
        return lines;
    }

    /** What {@code _setTracing} with a level of 1 or more writes. */
    public static List<Line> tracingStart(String path, long level, int capabilities) {
        List<Line> lines = new ArrayList<>();
        lines.add(announcement(path, level));
        lines.addAll(capabilityReport(capabilities));
        return lines;
    }

    /** A Java text as it reads back from a trace file read as ISO-8859-1 (its UTF-8 bytes). */
    public static String asFileBytes(String text) {
        return new String(text.getBytes(StandardCharsets.UTF_8), StandardCharsets.ISO_8859_1);
    }
}
