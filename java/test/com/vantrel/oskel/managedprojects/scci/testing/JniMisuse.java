package com.vantrel.oskel.managedprojects.scci.testing;

/**
 * Natives that misuse JNI on purpose, for the check that a JVM run through the Windows test
 * bridge reports a misuse by the Windows DLL as it reports one by a Linux library: run with
 * {@code -Xcheck:jni}, each call must end in the JVM's fatal report.
 *
 * <pre>java -Xcheck:jni -Doskel.misuse.library=LIB -cp ... JniMisuse stale|foreign</pre>
 */
public final class JniMisuse {
    static {
        System.load(System.getProperty("oskel.misuse.library"));
    }

    private JniMisuse() {
    }

    /** Asks for the class of an object through a global reference already deleted. */
    public static native void useDeletedGlobal(Object object);

    /** Asks for the class of an object through a reference the JVM never handed out. */
    public static native void useForeign();

    /**
     * Runs the task on a native thread that attaches itself to the JVM (named "jni-misuse
     * worker") and detaches after; returns when that thread has ended. No misuse: the check that
     * a thread the library attaches runs Java code.
     */
    public static native void runOnAttachedThread(Runnable task);

    public static void main(String[] args) {
        switch (args.length == 1 ? args[0] : "") {
            case "stale" -> useDeletedGlobal(new Object());
            case "foreign" -> useForeign();
            case "attached" -> {
                runOnAttachedThread(() -> System.out.println("ran on " + Thread.currentThread().getName()));
                System.out.println("the attached thread has ended");
                return;
            }
            default -> {
                System.err.println("usage: JniMisuse stale|foreign|attached");
                System.exit(2);
            }
        }
        System.out.println("misuse went unreported");
    }
}
