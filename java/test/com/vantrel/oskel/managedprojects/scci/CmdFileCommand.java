package com.vantrel.oskel.managedprojects.scci;

import com.vantrel.oskel.managedprojects.scci.testing.CallLog;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile.Line;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.stream.Collectors;

/**
 * The eleven file commands as the tests drive them, one row per native: the entry point it calls,
 * its trace texts, whether it takes a comment, the option slot it passes and the shape of its
 * provider call. {@link #expectedCall} builds the call log line the test provider must write for
 * one call, independently of the library.
 */
enum CmdFileCommand {
    GET_FILES("_getFiles", "SccGet", "Getting files", Shape.LIST_FLAGS, 0),
    CHECKOUT("_checkout", "SccCheckout", "checking out", Shape.LIST_COMMENT_FLAGS, 1),
    CHECKIN("_checkin", "SccCheckin", "checking in", Shape.LIST_COMMENT_FLAGS, 2),
    UNCHECKOUT("_uncheckout", "SccUncheckout", "Undo checkout", Shape.LIST_FLAGS, 3),
    ADD("_add", "SccAdd", "Add", Shape.LIST_COMMENT_ADD_FLAGS, 4),
    REMOVE("_remove", "SccRemove", "Removing", Shape.LIST_COMMENT_FLAGS, 5),
    HISTORY("_history", "SccHistory", "History", Shape.LIST_FLAGS, 7),
    DIFF("_diff", "SccDiff", "Comparing", Shape.ONE_FLAGS, 6),
    PROPERTIES("_properties", "SccProperties", "Properties", Shape.ONE, CmdFileCommand.NO_SLOT),
    QUERY_INFO("_queryInfo", "SccQueryInfo", "Query Info", Shape.LIST_STATUS, CmdFileCommand.NO_SLOT),
    RUN_SCC("_runScc", "SccRunScc", "Launching native UI", Shape.LIST, CmdFileCommand.NO_SLOT);

    /** The slot of a command that passes none. */
    static final int NO_SLOT = -1;

    /** The argument list of the provider call. */
    enum Shape {
        /** ctx, null, n, names, flags, slot. */
        LIST_FLAGS,
        /** ctx, null, n, names, comment, flags, slot. */
        LIST_COMMENT_FLAGS,
        /** ctx, null, n, names, comment, n per-file flags, slot. */
        LIST_COMMENT_ADD_FLAGS,
        /** ctx, null, name, flags, slot. */
        ONE_FLAGS,
        /** ctx, null, name. */
        ONE,
        /** ctx, n, names, n status words. */
        LIST_STATUS,
        /** ctx, null, n, names. */
        LIST
    }

    final String nativeName;
    final String entryPoint;
    final String traceText;
    final Shape shape;
    final int slot;

    CmdFileCommand(String nativeName, String entryPoint, String traceText, Shape shape, int slot) {
        this.nativeName = nativeName;
        this.entryPoint = entryPoint;
        this.traceText = traceText;
        this.shape = shape;
        this.slot = slot;
    }

    /** The commands on a list of files. */
    static List<CmdFileCommand> listCommands() {
        return Arrays.stream(values()).filter(CmdFileCommand::takesList).collect(Collectors.toList());
    }

    /** The commands on one file: {@code _diff} and {@code _properties}. */
    static List<CmdFileCommand> oneFileCommands() {
        return Arrays.stream(values()).filter(c -> !c.takesList()).collect(Collectors.toList());
    }

    /** The commands whose native takes a comment. */
    static List<CmdFileCommand> commentCommands() {
        return Arrays.stream(values()).filter(CmdFileCommand::takesComment).collect(Collectors.toList());
    }

    /** The commands that write the On Files dump at level 4. */
    static List<CmdFileCommand> fileDumpCommands() {
        return Arrays.stream(values()).filter(c -> c.takesList() && c != QUERY_INFO)
                .collect(Collectors.toList());
    }

    boolean takesList() {
        return shape != Shape.ONE && shape != Shape.ONE_FLAGS;
    }

    boolean takesComment() {
        return shape == Shape.LIST_COMMENT_FLAGS || shape == Shape.LIST_COMMENT_ADD_FLAGS;
    }

    /** The label of the detail line of a one-file command. */
    String detailLabel() {
        switch (this) {
            case DIFF:
                return "Comparing file of ";
            case PROPERTIES:
                return "Getting property of ";
            default:
                throw new IllegalStateException(nativeName + " writes no detail line");
        }
    }

    Line entryLine() {
        return Line.stamped("-->" + traceText);
    }

    Line exitLine() {
        return Line.stamped("<--" + traceText);
    }

    /**
     * Runs a list command. Returns the native's result: a {@code Long} code, or for
     * {@code _queryInfo} its {@code int[]} (possibly null). The comment reaches only the natives
     * that take one.
     */
    Object runList(long handle, long count, String[] files, String comment) {
        switch (this) {
            case GET_FILES:
                return JavaSCCInterface._getFiles(handle, count, files);
            case CHECKOUT:
                return JavaSCCInterface._checkout(handle, count, files, comment);
            case CHECKIN:
                return JavaSCCInterface._checkin(handle, count, files, comment);
            case UNCHECKOUT:
                return JavaSCCInterface._uncheckout(handle, count, files);
            case ADD:
                return JavaSCCInterface._add(handle, count, files, comment);
            case REMOVE:
                return JavaSCCInterface._remove(handle, count, files, comment);
            case HISTORY:
                return JavaSCCInterface._history(handle, count, files);
            case QUERY_INFO:
                return JavaSCCInterface._queryInfo(handle, count, files);
            case RUN_SCC:
                return JavaSCCInterface._runScc(handle, count, files);
            default:
                throw new IllegalStateException(nativeName + " takes one file");
        }
    }

    /** Runs a one-file command and returns its code. */
    long runOne(long handle, String file) {
        switch (this) {
            case DIFF:
                return JavaSCCInterface._diff(handle, file);
            case PROPERTIES:
                return JavaSCCInterface._properties(handle, file);
            default:
                throw new IllegalStateException(nativeName + " takes a list of files");
        }
    }

    /**
     * Runs the command on {@code files} (all of them) or, for a one-file command, on
     * {@code files[0]}.
     */
    Object run(long handle, String[] files, String comment) {
        return takesList() ? runList(handle, files.length, files, comment) : (Object) runOne(handle, files[0]);
    }

    /**
     * The call log line of one call of this command's entry point.
     *
     * @param context the provider context
     * @param names the names the provider must see (for a one-file command, its one name);
     *     null entries stand for null pointers; null for a null array
     * @param comment the comment, or null for a null pointer (ignored where there is none)
     * @param slotValue the value of this command's option slot (ignored where there is none)
     */
    String expectedCall(long context, List<String> names, String comment, long slotValue) {
        StringBuilder sb = new StringBuilder(entryPoint).append(" context=").append(CallLog.hex(context));
        if (shape != Shape.LIST_STATUS) {
            sb.append(" window=null");
        }
        if (takesList()) {
            int n = names == null ? 0 : names.size();
            sb.append(" count=").append(n).append(" names=").append(nameArray(names));
            if (takesComment()) {
                sb.append(" comment=").append(text(comment));
            }
            switch (shape) {
                case LIST_FLAGS:
                case LIST_COMMENT_FLAGS:
                    sb.append(" flags=0");
                    break;
                case LIST_COMMENT_ADD_FLAGS:
                    sb.append(" flags=").append(zeros(n));
                    break;
                case LIST_STATUS:
                    sb.append(" status=").append(zeros(n));
                    break;
                default:
                    break;
            }
        } else {
            sb.append(" name=").append(text(names.get(0)));
            if (shape == Shape.ONE_FLAGS) {
                sb.append(" flags=0");
            }
        }
        if (slot != NO_SLOT) {
            sb.append(" options=").append(CallLog.hex(slotValue));
        }
        return sb.toString();
    }

    /** A text as the call log writes it: quoted, or {@code null}. */
    static String text(String ascii) {
        return ascii == null ? "null" : CallLog.quote(ascii);
    }

    /** A name array as the call log writes it. */
    static String nameArray(List<String> names) {
        if (names == null) {
            return "null";
        }
        return names.stream().map(CmdFileCommand::text).collect(Collectors.joining(",", "[", "]"));
    }

    /** {@code [0,0,...]} with n zeros. */
    static String zeros(int n) {
        return "[" + String.join(",", Collections.nCopies(n, "0")) + "]";
    }

    /** The On Files dump of these names: each non-null one followed by a tab. */
    static Line onFilesDump(List<String> names) {
        StringBuilder sb = new StringBuilder("On Files:");
        for (String name : names) {
            if (name != null) {
                sb.append(name).append('\t');
            }
        }
        return Line.raw(sb.toString());
    }

    /** The Status dump of these names and words. */
    static Line statusDump(List<String> names, int[] words) {
        StringBuilder sb = new StringBuilder("Status:");
        for (int i = 0; i < names.size(); i++) {
            sb.append(' ').append(names.get(i) == null ? "(null)" : names.get(i)).append("=0x")
                    .append(Integer.toHexString(words[i]));
        }
        return Line.raw(sb.toString());
    }

    /**
     * The trace lines of one call at trace level {@code level}: for a list command on
     * {@code names} with the status words {@code words} (for {@code _queryInfo}), for a one-file
     * command on {@code names.get(0)}.
     */
    List<Line> expectedTrace(int level, List<String> names, int[] words) {
        List<Line> lines = new ArrayList<>();
        if (level < 1) {
            return lines;
        }
        lines.add(entryLine());
        if (!takesList()) {
            if (level >= 2) {
                String name = names.get(0);
                lines.add(Line.stamped(detailLabel() + (name == null ? "(null)" : name)));
            }
        } else if (level >= 4) {
            lines.add(this == QUERY_INFO ? statusDump(names, words) : onFilesDump(names));
        }
        lines.add(exitLine());
        return lines;
    }

    /** The first {@code n} elements of {@code files} as a list (null entries kept). */
    static List<String> firstNames(String[] files, int n) {
        return Arrays.asList(Arrays.copyOf(files, n));
    }

    @Override
    public String toString() {
        return nativeName;
    }
}
