package com.vantrel.oskel.scc;

/**
 * The user's options that a provider of SCC API 1.3 reports ({@code SCC_USEROPT_...}).
 *
 * @see Connection#userOption(UserOption)
 */
public enum UserOption {
    /**
     * {@code SCC_USEROPT_CHECKOUT_LOCALVER}: whether the user wants check-outs to keep the local
     * version of a file; 1 for yes, 0 for no.
     */
    CHECKOUT_LOCALVER(1);

    private final int number;

    UserOption(int number) {
        this.number = number;
    }

    /**
     * The number the provider is asked about.
     *
     * @return the option number
     */
    public int number() {
        return number;
    }
}
