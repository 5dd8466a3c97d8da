package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermission;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * A whole working session through the natives against the real localstore provider: locate and
 * open a project, add files, check one out, edit it, diff, check it in, history, status, populate
 * list, undo a check-out, close.
 */
@Tag("localstore")
class LocalstoreSessionTest extends NativeTestBase {
    private static final String KEY = "Software\\Vantrel\\LocalStore";
    private static final int CONTROLLED = 0x1;
    private static final int CHECKEDOUT = 0x2;
    private static final int OUTBYUSER = 0x1000;
    private static final long FILE_DIFFERS = 6;

    /** A project descriptor as an IDE keeps one. */
    public static final class Descriptor {
        String user = "tester";
        String projectName = "";
        String localPath;
        String auxProjPath = "";

        Descriptor(String localPath) {
            this.localPath = localPath;
        }

        public String getUser() { return user; }
        public String getProjectName() { return projectName; }
        public String getLocalPath() { return localPath; }
        public String reGetLocalPath() { return localPath; }
        public String getAuxProjPath() { return auxProjPath; }
        public void setUser(String s) { user = s; }
        public void setProjectName(String s) { projectName = s; }
        public void setLocalPath(String s) { localPath = s; }
        public void setAuxProjPath(String s) { auxProjPath = s; }
    }

    @Test
    void wholeSession() throws Exception {
        registry.provider(KEY, TestEnvironment.provider("localstore"));
        Path work = Files.createDirectories(dir.resolve("work"));
        Path a = Files.writeString(work.resolve("Main.java"), "class Main {\n}\n");
        Path b = Files.writeString(work.resolve("notes with spaces.txt"), "first\n");
        String[] both = {a.toString(), b.toString()};

        long h = JavaSCCInterface._initialize(KEY);
        assertNotEquals(0L, h, "_initialize against localstore");
        assertTrue(!JavaSCCInterface._getSCCName(h).isEmpty(), "the provider names itself");
        TraceFile trace = traceFile("session.trace");
        JavaSCCInterface._setTracing(h, 1, trace.path().toString());

        Descriptor project = new Descriptor(work.toString());
        assertEquals(0L, JavaSCCInterface._getProjPath(h, project, false, true), "path query");
        assertTrue(!project.auxProjPath.isEmpty(), "the provider proposes a store folder");
        assertEquals(0L, JavaSCCInterface._openProject(h, project), "open, creating the store");
        JavaSCCInterface._getErrList(h);

        assertEquals(0L, JavaSCCInterface._add(h, 2, both, "first version"), "add");
        assertArrayEquals(new int[] {CONTROLLED, CONTROLLED},
                JavaSCCInterface._queryInfo(h, 2, both), "status after add");
        assertTrue(!Files.getPosixFilePermissions(a).contains(PosixFilePermission.OWNER_WRITE),
                "a file not checked out is read-only");

        assertEquals(0L, JavaSCCInterface._checkout(h, 1, new String[] {a.toString()}, "edit"));
        int[] out = JavaSCCInterface._queryInfo(h, 2, both);
        assertEquals(CONTROLLED | CHECKEDOUT | OUTBYUSER, out[0] & (CONTROLLED | CHECKEDOUT | OUTBYUSER),
                "status of the checked-out file: " + Integer.toHexString(out[0]));
        Files.writeString(a, "class Main {\n    int x;\n}\n");

        JavaSCCInterface._getErrList(h);
        assertEquals(FILE_DIFFERS, JavaSCCInterface._diff(h, a.toString()), "diff of an edited file");
        List<String> diff = Arrays.asList(JavaSCCInterface._getErrList(h));
        assertTrue(diff.stream().anyMatch(m -> m.endsWith("+    int x;")), "diff lines: " + diff);

        assertEquals(0L, JavaSCCInterface._checkin(h, 1, new String[] {a.toString()}, "add x"));
        JavaSCCInterface._getErrList(h);
        assertEquals(0L, JavaSCCInterface._history(h, 1, new String[] {a.toString()}));
        List<String> history = Arrays.asList(JavaSCCInterface._getErrList(h));
        assertTrue(history.stream().anyMatch(m -> m.contains("Version 2")), "history: " + history);
        assertTrue(history.stream().anyMatch(m -> m.contains("add x")), "history: " + history);

        // Populate for check-in keeps only what is checked out.
        assertEquals(0L, JavaSCCInterface._checkout(h, 1, new String[] {b.toString()}, null));
        assertEquals(0L, JavaSCCInterface._populateList(h, 2, 2, both), "populate for check-in");
        assertArrayEquals(new String[] {b.toString()}, JavaSCCInterface._getPopulateList(h, 1));
        assertArrayEquals(new String[] {a.toString()}, JavaSCCInterface._getPopulateList(h, 0));
        assertEquals(0L, JavaSCCInterface._uncheckout(h, 1, new String[] {b.toString()}));
        assertEquals(CONTROLLED, JavaSCCInterface._queryInfo(h, 1, new String[] {b.toString()})[0]);

        // A second check-out of a file that is out already fails with the provider's code.
        assertEquals(0L, JavaSCCInterface._checkout(h, 1, new String[] {a.toString()}, null));
        assertTrue(JavaSCCInterface._checkout(h, 1, new String[] {a.toString()}, null) < 0,
                "second check-out of the same file");
        assertEquals(0L, JavaSCCInterface._uncheckout(h, 1, new String[] {a.toString()}));

        assertEquals(0L, JavaSCCInterface._closeProject(h), "close");
        assertEquals(0L, JavaSCCInterface._uninitialize(h), "uninitialize");
        List<String> lines = trace.texts();
        assertTrue(lines.contains("-->checking in") && lines.contains("<--close project"),
                "trace: " + lines);
    }
}
