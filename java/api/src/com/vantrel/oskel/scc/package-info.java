/**
 * Typed access to SCC API source-control providers.
 *
 * <p>{@link com.vantrel.oskel.scc.Scc} lists the installed providers and connects to one; a
 * {@link com.vantrel.oskel.scc.Connection} reports the provider's name, version and
 * {@link com.vantrel.oskel.scc.Capability capabilities} and opens a
 * {@link com.vantrel.oskel.scc.Project}, whose methods are the file commands. Provider failures
 * are {@link com.vantrel.oskel.scc.SccException}s carrying the SCC result code and the provider's
 * {@link com.vantrel.oskel.scc.ProviderMessage messages}. All provider calls of the process are
 * serialised, so the API may be used from any thread.
 */
package com.vantrel.oskel.scc;
