package com.vantrel.oskel.bench;

/** Natives with the signature of {@code _checkout} that bound what any JNI bridge can do. */
final class Anchors {
    static {
        System.load(System.getProperty("oskelbench.anchors"));
    }

    private Anchors() {}

    /** Returns at once: the JNI transition alone. */
    static native long emptyCheckout(long handle, long count, String[] files, String comment);

    /** Reads each string once with GetStringUTFChars: the floor of a bridge. */
    static native long utfCheckout(long handle, long count, String[] files, String comment);
}
