package com.vantrel.oskel.bench;

import com.sun.jna.Library;
import com.sun.jna.Native;
import com.sun.jna.Pointer;
import com.sun.jna.ptr.PointerByReference;

/** The provider called directly through JNA, as a Java program without the bridge would. */
final class JnaAnchor {
    interface Provider extends Library {
        int SccInitialize(PointerByReference context, Pointer window, String caller, byte[] name,
                int[] caps, byte[] label, int[] checkoutCommentLen, int[] commentLen);

        int SccCheckout(Pointer context, Pointer window, int count, String[] names, String comment,
                int flags, Pointer options);
    }

    private final Provider provider;
    private final Pointer context;

    JnaAnchor(String libraryPath) {
        provider = Native.load(libraryPath, Provider.class);
        PointerByReference ctx = new PointerByReference();
        provider.SccInitialize(ctx, null, "bench", new byte[261], new int[1], new byte[261],
                new int[1], new int[1]);
        context = ctx.getValue();
    }

    int checkout(String[] names, String comment) {
        return provider.SccCheckout(context, null, names.length, names, comment, 0, null);
    }
}
