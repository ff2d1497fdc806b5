// Seams of the HDMI module for its own tests.
#pragma once
#include <pthread.h>

typedef int (*mi_hdmi_thread_start_fn)(pthread_t *thread, const pthread_attr_t *attr, void *(*entry)(void *),
                                       void *arg);

// Replaces the thread starter of the hot-plug watcher; nullptr restores pthread_create.
void mi_hdmi_set_thread_start(mi_hdmi_thread_start_fn fn);
