package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.net.URI;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import javax.tools.JavaFileObject;
import javax.tools.SimpleJavaFileObject;
import javax.tools.ToolProvider;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * The code of the Javadoc overview (the getting-started page) compiles as written, and its full
 * program runs against localstore. The examples/ project is built and run by scc.maven.example.
 */
@Tag("localstore")
class DocumentationTest {
    private static final Path OVERVIEW = TestEnvironment.property("oskel.source.dir")
            .resolve("java/api/overview.html");

    /** The {@code <pre>{@code ...}</pre>} blocks of the overview, HTML entities decoded. */
    private static List<String> blocks() throws Exception {
        List<String> blocks = new ArrayList<>();
        Matcher m = Pattern.compile("<pre>\\{@code\\n(.*?)\\n}</pre>", Pattern.DOTALL)
                .matcher(Files.readString(OVERVIEW));
        while (m.find()) {
            blocks.add(m.group(1).replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&")
                    .replace("&#64;", "@"));
        }
        return blocks;
    }

    private static JavaFileObject source(String name, String code) {
        return new SimpleJavaFileObject(URI.create("string:///" + name + ".java"),
                JavaFileObject.Kind.SOURCE) {
            @Override
            public CharSequence getCharContent(boolean ignoreEncodingErrors) {
                return code;
            }
        };
    }

    /** A fragment as the body of a method that has the names the page takes as given. */
    private static String fragment(String code) {
        return "import com.vantrel.oskel.scc.*; import java.nio.file.*; import java.util.*;\n"
                + "import java.util.concurrent.Executor;\n"
                + "abstract class Fragment {\n"
                + "  interface Button { void onClick(Runnable action); }\n"
                + "  abstract void refresh(Path file, Set<StatusFlag> flags);\n"
                + "  void run(Connection scc, Project project, List<Path> files,"
                + " Executor uiExecutor, Button cancelButton) throws Exception {\n"
                + code + "\n  }\n}\n";
    }

    @Test
    void everyBlockCompilesAndTheFullProgramRunsAgainstLocalstore() throws Exception {
        org.junit.jupiter.api.Assumptions.assumeFalse(TestEnvironment.windows(),
                "the program names a registry file, which Windows does not read");
        List<String> blocks = blocks();
        assertEquals(2, blocks.size(), "code blocks of the overview");
        Path classes = TestEnvironment.newFolder("overview-classes");
        List<JavaFileObject> sources = List.of(source("Hello", blocks.get(0)),
                source("Fragment", fragment(blocks.get(1))));
        java.io.StringWriter errors = new java.io.StringWriter();
        boolean compiled = ToolProvider.getSystemJavaCompiler().getTask(errors, null, null,
                List.of("-classpath", TestEnvironment.apiJar().toString(), "-d", classes.toString()),
                null, sources).call();
        assertTrue(compiled, "the overview's code compiles:\n" + errors);

        Path library = TestEnvironment.provider("localstore");
        assumeTrue(Files.exists(library), "localstore is not built: " + library);
        Path folder = TestEnvironment.newFolder("overview-run");
        Path registry = folder.resolve("registry.reg");
        TestEnvironment.write(registry,
                TestEnvironment.registryText(Map.of("LocalStore", library), false));
        List<String> command = TestEnvironment.javaCommand("-cp",
                TestEnvironment.apiJar() + java.io.File.pathSeparator + classes, "Hello",
                folder.resolve("work").toString(), registry.toString());
        TestEnvironment.Run run = TestEnvironment.run(command, Map.of(), folder, null);
        assertEquals(0, run.exit(), "the getting-started program runs:\n" + run.both());
        assertTrue(run.out().contains("Hello, world!"), "its diff shows the change:\n" + run.both());
    }
}
