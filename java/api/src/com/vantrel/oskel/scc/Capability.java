package com.vantrel.oskel.scc;

import java.nio.file.Path;
import java.util.Collection;
import java.util.EnumSet;
import java.util.Set;

/**
 * The capability bits ({@code SCC_CAP_...}) that a provider reports when it starts.
 *
 * @see Connection#capabilities()
 */
public enum Capability {
    /** {@code SCC_CAP_REMOVE}: removes files from source control. */
    REMOVE(0x00000001),
    /** {@code SCC_CAP_RENAME}: renames files. */
    RENAME(0x00000002),
    /** {@code SCC_CAP_DIFF}: compares a working file with its controlled version. */
    DIFF(0x00000004),
    /** {@code SCC_CAP_HISTORY}: shows the history of a file. */
    HISTORY(0x00000008),
    /** {@code SCC_CAP_PROPERTIES}: shows the properties of a file. */
    PROPERTIES(0x00000010),
    /** {@code SCC_CAP_RUNSCC}: opens its own user interface. */
    RUNSCC(0x00000020),
    /** {@code SCC_CAP_GETCOMMANDOPTIONS}: keeps options per command. */
    GETCOMMANDOPTIONS(0x00000040),
    /** {@code SCC_CAP_QUERYINFO}: reports the status of files. */
    QUERYINFO(0x00000080),
    /** {@code SCC_CAP_GETEVENTS}: reports status changes as events. */
    GETEVENTS(0x00000100),
    /** {@code SCC_CAP_GETPROJPATH}: lets the user pick a project. */
    GETPROJPATH(0x00000200),
    /** {@code SCC_CAP_ADDFROMSCC}: adds files from source control to a project. */
    ADDFROMSCC(0x00000400),
    /** {@code SCC_CAP_COMMENTCHECKOUT}: takes a comment with a check-out. */
    COMMENTCHECKOUT(0x00000800),
    /** {@code SCC_CAP_COMMENTCHECKIN}: takes a comment with a check-in. */
    COMMENTCHECKIN(0x00001000),
    /** {@code SCC_CAP_COMMENTADD}: takes a comment when files are added. */
    COMMENTADD(0x00002000),
    /** {@code SCC_CAP_COMMENTREMOVE}: takes a comment when files are removed. */
    COMMENTREMOVE(0x00004000),
    /** {@code SCC_CAP_TEXTOUT}: sends messages through the text-out callback. */
    TEXTOUT(0x00008000),
    /** {@code SCC_CAP_CREATESUBPROJECT}: creates sub-projects ({@link Connection#createSubProject}). */
    CREATESUBPROJECT(0x00010000),
    /** {@code SCC_CAP_GETPARENTPROJECT}: names a project's parent ({@link Connection#parentProject}). */
    GETPARENTPROJECT(0x00020000),
    /** {@code SCC_CAP_BATCH}: groups commands in batches ({@link Connection#beginBatch()}). */
    BATCH(0x00040000),
    /** {@code SCC_CAP_DIRECTORYSTATUS}: reports the status of folders ({@link Project#dirStatus}). */
    DIRECTORYSTATUS(0x00080000),
    /** {@code SCC_CAP_DIRECTORYDIFF}: compares a folder with its project ({@link Project#dirDiff}). */
    DIRECTORYDIFF(0x00100000),
    /** {@code SCC_CAP_ADD_STORELATEST}: can store only the latest version of added files. */
    ADD_STORELATEST(0x00200000),
    /** {@code SCC_CAP_HISTORY_MULTFILE}: shows the history of several files at once. */
    HISTORY_MULTFILE(0x00400000),
    /** {@code SCC_CAP_IGNORECASE}: compares ignoring case. */
    IGNORECASE(0x00800000),
    /** {@code SCC_CAP_IGNORESPACE}: compares ignoring white space. */
    IGNORESPACE(0x01000000),
    /** {@code SCC_CAP_POPULATELIST}: sorts file lists for a command. */
    POPULATELIST(0x02000000),
    /** {@code SCC_CAP_COMMENTPROJECT}: takes a comment when a project is created. */
    COMMENTPROJECT(0x04000000),
    /**
     * {@code SCC_CAP_MULTICHECKOUT}: lets several users check a file out at once, where the project
     * allows it ({@link Project#isMultiCheckoutEnabled()}).
     */
    MULTICHECKOUT(0x08000000),
    /** {@code SCC_CAP_DIFFALWAYS}: compares also files that are not checked out. */
    DIFFALWAYS(0x10000000),
    /** {@code SCC_CAP_GET_NOUI}: gets files without a user interface. */
    GET_NOUI(0x20000000),
    /** {@code SCC_CAP_REENTRANT}: may be called from several threads. */
    REENTRANT(0x40000000),
    /**
     * {@code SCC_CAP_SCCFILE}: keeps project bindings in a file of its own beside the files
     * ({@link Project#willCreateSccFile(Path...)}); the sign bit of the word.
     */
    SCCFILE(0x80000000);

    private final int bit;

    Capability(int bit) {
        this.bit = bit;
    }

    /**
     * The bit of this capability in the provider's capability word.
     *
     * @return a single bit
     */
    public int bit() {
        return bit;
    }

    /**
     * The name of the bit in the SCC API.
     *
     * @return for example {@code "SCC_CAP_REMOVE"}
     */
    public String sccName() {
        return "SCC_CAP_" + name();
    }

    /**
     * The capabilities whose bits are set in a capability word. Bits that no constant names are
     * ignored; {@link #unknownBits(int)} gives them.
     *
     * @param word a capability word as the provider reported it
     * @return a new set
     */
    public static EnumSet<Capability> decode(int word) {
        EnumSet<Capability> set = EnumSet.noneOf(Capability.class);
        for (Capability capability : values()) {
            if ((word & capability.bit) != 0) {
                set.add(capability);
            }
        }
        return set;
    }

    /**
     * The capability word with exactly these bits set.
     *
     * @param capabilities any capabilities
     * @return the word
     */
    public static int encode(Collection<Capability> capabilities) {
        int word = 0;
        for (Capability capability : capabilities) {
            word |= capability.bit;
        }
        return word;
    }

    /**
     * The bits of a capability word that no constant of this type names.
     *
     * @param word a capability word
     * @return the word without the known bits
     */
    public static int unknownBits(int word) {
        return word & ~encode(Set.of(values()));
    }
}
