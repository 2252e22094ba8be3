// Placeholder until the parser lands; removed with it.
