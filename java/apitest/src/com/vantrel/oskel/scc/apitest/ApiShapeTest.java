package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.StatusEvent;
import java.io.StringWriter;
import java.net.URI;
import java.nio.file.Path;
import java.util.List;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.TimeUnit;
import javax.tools.JavaCompiler;
import javax.tools.SimpleJavaFileObject;
import javax.tools.ToolProvider;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The API's shape: a comment is never a plain string, relative names have one base, and event
 * listeners fire on their own.
 */
@Tag("projects")
class ApiShapeTest extends TestProviderBase {
    /** Compiles one statement against the API jar; the compiler's errors, empty when it compiles. */
    private static String compile(String statement) {
        String source = "import com.vantrel.oskel.scc.*; import java.nio.file.Path;\n"
                + "class Use { void use(Project project) throws Exception { " + statement + "; } }";
        JavaCompiler compiler = ToolProvider.getSystemJavaCompiler();
        StringWriter errors = new StringWriter();
        SimpleJavaFileObject file = new SimpleJavaFileObject(URI.create("string:///Use.java"),
                javax.tools.JavaFileObject.Kind.SOURCE) {
            @Override
            public CharSequence getCharContent(boolean ignoreEncodingErrors) {
                return source;
            }
        };
        boolean ok = compiler.getTask(errors, null, null,
                List.of("-classpath", TestEnvironment.apiJar().toString(), "-proc:none", "-d",
                        TestEnvironment.newFolder("compiled").toString()),
                null, List.of(file)).call();
        return ok ? "" : errors.toString();
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "project.add(\"a comment\", Path.of(\"a.txt\")) | false",
        "project.checkin(\"why\", java.util.List.of(Path.of(\"a.txt\"))) | false",
        "project.add(\"a.txt\", \"b.txt\") | true",
        "project.add(\"a.txt\") | true",
        "project.checkout(Comment.of(\"why\"), \"a.txt\") | true"})
    void aFileNameCannotBeTakenForAComment(String statement, boolean compiles) {
        String errors = compile(statement);
        assertEquals(compiles, errors.isEmpty(), statement + "\n" + errors);
    }

    @Test
    void twoNamesAreTwoFilesAndRelativeNamesHaveTheProjectFolderAsBase() throws Exception {
        Project project = open();
        TestEnvironment.clearCalls();
        project.add("a.txt", "b.txt");
        project.status(Path.of("sub", "f.txt"));
        project.status("sub/f.txt");
        project.checkin(Comment.of("why"), Path.of("/elsewhere/g.txt"));
        String folder = location().localPath();
        assertEquals(List.of(
                "SccAdd names=[\"" + folder + "/a.txt\",\"" + folder + "/b.txt\"] comment=null",
                "SccQueryInfo names=[\"" + folder + "/sub/f.txt\"]",
                "SccQueryInfo names=[\"" + folder + "/sub/f.txt\"]",
                "SccCheckin names=[\"/elsewhere/g.txt\"] comment=\"why\""),
                TestEnvironment.calls().stream().map(ApiShapeTest::namesAndComment).toList());
    }

    private static String namesAndComment(String call) {
        String entry = call.split(" ")[0];
        String names = call.replaceAll(".* names=(\\[[^\\]]*\\]).*", "$1");
        String comment = call.contains(" comment=")
                ? " comment=" + call.replaceAll(".* comment=(\\S+).*", "$1") : "";
        return entry + " names=" + names + comment;
    }

    @Test
    void anEventListenerFiresOnItsOwnThroughTheExecutorItWasGiven() throws Exception {
        TestEnvironment.script("event 3 0 " + absolute("watched.txt"));
        Connection connection = connect();
        LinkedBlockingQueue<String> delivered = new LinkedBlockingQueue<>();
        connection.setEventListener((StatusEvent event) -> delivered.add(
                Thread.currentThread().getName() + " " + event.file().getFileName()),
                task -> new Thread(task, "ui").start());
        String first = delivered.poll(10, TimeUnit.SECONDS);
        connection.setEventListener(null, null);
        assertEquals("ui watched.txt", first, "delivered without a poll of the caller's own");
        assertTrue(connection.pollEvents().size() <= 1, "pollEvents still works");
    }
}
