package com.vantrel.oskel.scc.apitest;

import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;

/**
 * Tests against the scriptable test provider, registered as the only provider: each test starts
 * with an empty script and call log, and closes what it opened.
 */
abstract class TestProviderBase {
    /** Messages the listener of {@link #connect()}'s connections received. */
    protected final List<ProviderMessage> received = Collections.synchronizedList(new ArrayList<>());
    private final List<AutoCloseable> opened = new ArrayList<>();

    @BeforeEach
    void registerTestProvider() {
        TestEnvironment.registerTestProvider();
        TestEnvironment.script();
        TestEnvironment.clearCalls();
    }

    @AfterEach
    void closeAll() throws Exception {
        TestEnvironment.script();
        for (int i = opened.size() - 1; i >= 0; i--) {
            try {
                opened.get(i).close();
            } catch (SccException | IllegalStateException e) {
                // a test that made closing fail has checked that already
            }
        }
    }

    /** A connection to the test provider whose messages go to {@link #received}. */
    protected Connection connect() throws SccException {
        Connection connection = Scc.connect(TestEnvironment.TEST_PROVIDER);
        connection.setMessageListener(received::add);
        opened.add(connection);
        return connection;
    }

    /** The project texts the tests open. */
    protected static ProjectLocation location() {
        return new ProjectLocation("tester", "apitest", "/work/apitest", "aux");
    }

    /** A connection with the project of {@link #location()} open. */
    protected Project open() throws SccException {
        Project project = connect().openProject(location());
        opened.add(project);
        return project;
    }

    /**
     * A file name as the API hands a relative name to the provider: taken against the project's
     * working folder.
     */
    protected static String absolute(String file) {
        return Path.of(location().localPath()).resolve(file).toAbsolutePath().normalize().toString();
    }
}
