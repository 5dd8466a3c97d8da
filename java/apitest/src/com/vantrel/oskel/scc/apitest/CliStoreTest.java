package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.OpenMode;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.Scc;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The scc subcommands of the provider's further calls, run as processes from the tool's jar
 * against localstore: exit codes, plain, porcelain and JSON output.
 */
@Tag("cli")
class CliStoreTest {
    private Path work;
    private Path store;

    /**
     * A project with a.txt (two versions) and lib/c.txt, made through the API, and extra/new.txt
     * that is not under source control.
     */
    @BeforeEach
    void setUp() throws Exception {
        Path library = TestEnvironment.provider("localstore");
        assumeTrue(Files.exists(library), "localstore is not built: " + library);
        TestEnvironment.registerProviders(Map.of("LocalStore", library));
        work = TestEnvironment.newFolder("cli-store");
        store = TestEnvironment.newFolder("cli-store-store").resolve("store");
        Path a = work.resolve("a.txt");
        Path c = work.resolve("lib/c.txt");
        Files.createDirectories(c.getParent());
        Files.writeString(a, "one\n");
        Files.writeString(c, "c\n");
        Files.createDirectories(work.resolve("extra"));
        Files.writeString(work.resolve("extra/new.txt"), "not added\n");
        try (Connection connection = Scc.connect("LocalStore");
                Project project = connection.openProject(
                        ProjectLocation.of("tester", "demo", work, store.toString()),
                        OpenMode.CREATE_IF_NEW)) {
            project.add(Comment.of("first version"), a, c);
            project.checkout(a);
            Files.writeString(a, "two\n");
            project.checkin(Comment.of("second version"), a);
        }
    }

    private TestEnvironment.Run scc(String... args) {
        List<String> command = new ArrayList<>(
                TestEnvironment.javaCommand("-jar", TestEnvironment.sccJar().toString()));
        command.addAll(Arrays.asList(args));
        command.addAll(List.of("--provider", "LocalStore"));
        if (!command.contains("extcaps")) {
            command.addAll(List.of("-p", "demo", "-u", "tester", "-a", store.toString()));
        }
        Map<String, String> environment = new HashMap<>();
        for (String name : List.of("SCC_PROVIDER", "SCC_PROJECT", "SCC_USER", "SCC_AUX_PATH",
                "SCC_DEBUG")) {
            environment.put(name, null);
        }
        return TestEnvironment.run(command, environment, work, null).clean();
    }

    /**
     * Rows: arguments (space-separated; the provider and, but for extcaps, the project options
     * follow them), exit
     * code, a pattern the whole output must contain (stdout, then stderr; WORK is the working
     * folder).
     */
    @ParameterizedTest(name = "scc {0} -> {1}")
    @CsvSource(delimiter = '|', value = {
        "rename -h | 0 | (?s)\\AUsage: scc rename .*OLD NEW",
        "rename a.txt | 2 | scc: Missing required parameter: 'NEW'\\nusage: scc rename",
        "rename nothere.txt b.txt | 3 | \\A--- stderr\\nscc: rename: SCC_E_FILENOTCONTROLLED \\(-11\\)",
        "--json rename nothere.txt b.txt | 3 | \"command\":\"rename\",\"result\":\"SCC_E_FILENOTCONTROLLED\",\"code\":-11,.*\"exit\":3",
        "--porcelain rename --store-only a.txt b.txt | 0 | \\Arename\\tSCC_OK\\t0\\n",
        "dirstatus . lib nowhere | 0 | DIR +STATUS +WORD\\n\\. +controlled +0x0001\\nlib +controlled +0x0001\\nnowhere +not controlled +0x0000\\n",
        "--porcelain dirstatus lib | 0 | \\Alib\\t0x00000001\\tcontrolled\\ndirstatus\\tSCC_OK\\t0\\n--- stderr\\n\\z",
        "dirstatus --json lib | 0 | \"command\":\"dirstatus\",\"result\":\"SCC_OK\",\"code\":0,\"messages\":\\[\\],\"dirs\":\\[\\{\"dir\":\"lib\",\"path\":\"WORK/lib\",\"word\":1,\"valid\":true,\"flags\":\\[\"controlled\"\\]\\}\\]",
        "dirlist . | 0 | \\Adir   WORK/lib\\n--- stderr\\n\\z",
        "--porcelain dirlist --recursive --files . | 0 | (?s)\\A(?=.*^file\\tWORK/a.txt$)(?=.*^file\\tWORK/lib/c.txt$)(?=.*^dir\\tWORK/lib$)",
        "dirdiff lib | 0 | \\nWORK/lib: no differences\\.\\n--- stderr\\n\\z",
        "dirdiff . | 1 | \\nextra/new.txt: not under source control\\.\\ndirdiff: SCC_I_FILEDIFFERS\\n",
        "--json dirdiff . | 1 | \"command\":\"dirdiff\",\"result\":\"SCC_I_FILEDIFFERS\",\"code\":6,",
        "dirdiff extra | 3 | scc: dirdiff: SCC_E_FILENOTCONTROLLED \\(-11\\)",
        "changes a.txt nothere.txt | 0 | FILE +CHANGE +NOW\\nWORK/a.txt +unchanged +WORK/a.txt\\n",
        "events | 0 | \\A--- stderr\\n\\z",
        "--json events a.txt | 0 | \"command\":\"events\",\"result\":\"SCC_OK\",\"code\":0,\"messages\":\\[\\],\"events\":\\[",
        "events --watch -1 | 2 | --watch must be 0 or more seconds",
        "extcaps | 0 | CAPABILITY +NUMBER +SUPPORTED\\nSCC_EXCAP_CHECKOUT_LOCALVER +1 +no\\n",
        "--porcelain extcaps | 0 | ^SCC_EXCAP_QUERYCHANGES\\t5\\tyes$",
        "parent | 0 | \\Aparent demo",
        "--porcelain subproject part | 0 | \\Asubproject\\t\\S+\\t"})
    void commands(String args, int exit, String expected) {
        org.junit.jupiter.api.Assumptions.assumeFalse(TestEnvironment.windows() && args.contains("dirlist"),
                "a Windows provider lists the names it finds in Windows form");
        TestEnvironment.Run run = scc(args.split(" "));
        String output = run.out() + "--- stderr\n" + run.err();
        String pattern = expected.replace("WORK", Pattern.quote(work.toString()));
        assertEquals(exit, run.exit(), "exit code of scc " + args + "\n" + run.both());
        assertTrue(Pattern.compile(pattern, Pattern.MULTILINE).matcher(output).find(),
                "output of scc " + args + " should match " + pattern + "\n" + run.both());
    }

    @Test
    void renameMovesTheWorkingFileAndKeepsTheHistory() {
        TestEnvironment.Run rename = scc("rename", "a.txt", "docs/b.txt");
        assertEquals(0, rename.exit(), rename.both());
        assertEquals(List.of(false, true),
                List.of(Files.exists(work.resolve("a.txt")), Files.exists(work.resolve("docs/b.txt"))),
                "the working file moved");
        TestEnvironment.Run history = scc("history", "docs/b.txt");
        assertEquals(0, history.exit(), history.both());
        assertTrue(history.out().contains("first version") && history.out().contains("second version"),
                "history of the new name has the versions made under the old one:\n" + history.both());
    }
}
