/* Anchors for the benchmark: natives with the signature of _checkout that do
 * the least any JNI bridge must do. */
#include <jni.h>

/* Returns at once: the cost of the JNI transition alone. */
JNIEXPORT jlong JNICALL Java_com_vantrel_oskel_bench_Anchors_emptyCheckout(
    JNIEnv *env, jclass cls, jlong handle, jlong count, jobjectArray files, jstring comment) {
    (void)env; (void)cls; (void)handle; (void)count; (void)files; (void)comment;
    return 0;
}

/* Reads every string once with GetStringUTFChars: the floor of a bridge that
 * must see each name's characters. */
JNIEXPORT jlong JNICALL Java_com_vantrel_oskel_bench_Anchors_utfCheckout(
    JNIEnv *env, jclass cls, jlong handle, jlong count, jobjectArray files, jstring comment) {
    (void)cls; (void)handle;
    jlong sum = 0;
    if (comment) {
        const char *c = (*env)->GetStringUTFChars(env, comment, NULL);
        sum += c[0];
        (*env)->ReleaseStringUTFChars(env, comment, c);
    }
    for (jsize i = 0; i < (jsize)count; ++i) {
        jstring s = (jstring)(*env)->GetObjectArrayElement(env, files, i);
        if (!s)
            continue;
        const char *c = (*env)->GetStringUTFChars(env, s, NULL);
        sum += c[0];
        (*env)->ReleaseStringUTFChars(env, s, c);
        (*env)->DeleteLocalRef(env, s);
    }
    return sum == -1 ? 1 : 0;
}
