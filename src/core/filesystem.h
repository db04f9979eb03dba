// Output folder of the pipeline.
#pragma once

// Creates ./generated when it is missing; always returns 0.
int ensure_generated_folder();
