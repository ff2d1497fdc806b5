#pragma once

// The recorder's start-up; never returns once the pipeline stands.
int vidrec_main(void);
