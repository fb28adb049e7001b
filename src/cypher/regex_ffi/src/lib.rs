//! The `regex` crate behind the C interface of `kuv_regex.h`: compile a pattern with the
//! library's default settings, search UTF-8 texts with it, free it. Every entry point catches
//! panics, so none unwinds into the C++ caller; a caught panic becomes a failure message.

#![deny(warnings)]

use regex::Regex;
use regex_syntax::hir::{print::Printer, Hir, HirKind, WordBoundary};
use std::any::Any;
use std::cell::RefCell;
use std::os::raw::{c_char, c_int};
use std::panic::{self, AssertUnwindSafe};
use std::ptr;
use std::sync::Once;

/// A compiled expression, or the library's description of why the pattern was rejected.
pub struct KuvRegex(Result<Compiled, String>);

/// The library's fast engine gives up on non-ASCII text when a pattern holds a Unicode word
/// boundary (`\b`, `\B`), and the search falls back to a much slower one. The same pattern with
/// those assertions dropped matches every text the pattern matches (an assertion only ever rules
/// matches out) and stays on the fast engine, so it rules out most such texts cheaply first.
struct Compiled {
    regex: Regex,
    loose: Option<Regex>,
}

impl Compiled {
    fn new(pattern: &str) -> Result<Compiled, String> {
        let regex = Regex::new(pattern).map_err(|error| error.to_string())?;
        Ok(Compiled { regex, loose: without_unicode_word_boundaries(pattern) })
    }

    fn is_match(&self, text: &str) -> bool {
        if let Some(loose) = &self.loose {
            if !text.is_ascii() && !loose.is_match(text) {
                return false;
            }
        }
        self.regex.is_match(text)
    }
}

/// The pattern with its Unicode word boundaries dropped, compiled; `None` when it has none (or
/// the looser pattern does not compile, which only costs speed).
fn without_unicode_word_boundaries(pattern: &str) -> Option<Regex> {
    // Both assertions are written with a backslash escape; most patterns have neither, and
    // parsing them a second time would be wasted.
    if !pattern.contains("\\b") && !pattern.contains("\\B") {
        return None;
    }
    let hir = regex_syntax::Parser::new().parse(pattern).ok()?;
    let mut dropped = false;
    let loose = drop_unicode_word_boundaries(hir, &mut dropped);
    if !dropped {
        return None;
    }
    let mut printed = String::new();
    Printer::new().print(&loose, &mut printed).ok()?;
    Regex::new(&printed).ok()
}

fn drop_in_each(items: Vec<Hir>, dropped: &mut bool) -> Vec<Hir> {
    items.into_iter().map(|item| drop_unicode_word_boundaries(item, dropped)).collect()
}

fn drop_unicode_word_boundaries(hir: Hir, dropped: &mut bool) -> Hir {
    match hir.into_kind() {
        HirKind::WordBoundary(WordBoundary::Unicode | WordBoundary::UnicodeNegate) => {
            *dropped = true;
            Hir::empty()
        }
        HirKind::Repetition(mut repetition) => {
            let inner = drop_unicode_word_boundaries(*repetition.hir, dropped);
            // An empty expression prints as nothing, which would hand the operator to whatever
            // precedes it; a repeated empty expression is just empty.
            if matches!(inner.kind(), HirKind::Empty) {
                return Hir::empty();
            }
            repetition.hir = Box::new(inner);
            Hir::repetition(repetition)
        }
        HirKind::Group(mut group) => {
            group.hir = Box::new(drop_unicode_word_boundaries(*group.hir, dropped));
            Hir::group(group)
        }
        HirKind::Concat(items) => Hir::concat(drop_in_each(items, dropped)),
        HirKind::Alternation(items) => Hir::alternation(drop_in_each(items, dropped)),
        HirKind::Empty => Hir::empty(),
        HirKind::Literal(literal) => Hir::literal(literal),
        HirKind::Class(class) => Hir::class(class),
        HirKind::Anchor(anchor) => Hir::anchor(anchor),
        HirKind::WordBoundary(ascii) => Hir::word_boundary(ascii),
    }
}

thread_local! {
    static FAILURE: RefCell<String> = RefCell::new(String::new());
}

/// The default panic hook prints to standard error, which the module must leave alone: the
/// panic's message reaches the caller through `kuv_regex_failure_message` instead.
fn silence_panic_reports() {
    static SILENCE: Once = Once::new();
    SILENCE.call_once(|| panic::set_hook(Box::new(|_| {})));
}

fn panic_text(payload: Box<dyn Any + Send>) -> String {
    let message = if let Some(text) = payload.downcast_ref::<&str>() {
        (*text).to_owned()
    } else if let Some(text) = payload.downcast_ref::<String>() {
        text.clone()
    } else {
        "no message".to_owned()
    };
    format!("regular-expression library panicked: {}", message)
}

/// Runs `work`; a panic or an `Err` becomes `None`, with the calling thread's failure message set.
fn guarded<T>(work: impl FnOnce() -> Result<T, String>) -> Option<T> {
    silence_panic_reports();
    match panic::catch_unwind(AssertUnwindSafe(work)).unwrap_or_else(|payload| Err(panic_text(payload))) {
        Ok(value) => Some(value),
        Err(message) => {
            FAILURE.with(|failure| *failure.borrow_mut() = message);
            None
        }
    }
}

/// The caller's bytes; a zero length may come with any pointer, NULL included.
unsafe fn bytes<'a>(data: *const c_char, length: usize) -> &'a [u8] {
    if length == 0 {
        &[]
    } else {
        std::slice::from_raw_parts(data.cast::<u8>(), length)
    }
}

fn utf8<'a>(bytes: &'a [u8], what: &str) -> Result<&'a str, String> {
    std::str::from_utf8(bytes).map_err(|error| format!("regular-expression {} is not UTF-8: {}", what, error))
}

/// # Safety
/// `pattern` points to `length` readable bytes (or `length` is 0).
#[no_mangle]
pub unsafe extern "C" fn kuv_regex_compile(pattern: *const c_char, length: usize) -> *mut KuvRegex {
    let pattern = bytes(pattern, length);
    match guarded(|| Ok(Compiled::new(utf8(pattern, "pattern")?))) {
        Some(compiled) => Box::into_raw(Box::new(KuvRegex(compiled))),
        None => ptr::null_mut(),
    }
}

/// # Safety
/// `regex` comes from `kuv_regex_compile` and is not yet freed; `length` is writable.
#[no_mangle]
pub unsafe extern "C" fn kuv_regex_error(regex: *const KuvRegex, length: *mut usize) -> *const c_char {
    match &(*regex).0 {
        Ok(_) => {
            *length = 0;
            ptr::null()
        }
        Err(message) => {
            *length = message.len();
            message.as_ptr().cast()
        }
    }
}

/// # Safety
/// `regex` comes from `kuv_regex_compile` and is not yet freed; `text` points to `length`
/// readable bytes (or `length` is 0).
#[no_mangle]
pub unsafe extern "C" fn kuv_regex_is_match(regex: *const KuvRegex, text: *const c_char, length: usize) -> c_int {
    let text = bytes(text, length);
    let regex = &*regex;
    let found = guarded(|| {
        let compiled = regex.0.as_ref().map_err(|_| "search with a rejected regular expression".to_owned())?;
        Ok(compiled.is_match(utf8(text, "subject")?))
    });
    found.map_or(-1, c_int::from)
}

/// # Safety
/// `length` is writable.
#[no_mangle]
pub unsafe extern "C" fn kuv_regex_failure_message(length: *mut usize) -> *const c_char {
    FAILURE.with(|failure| {
        let failure = failure.borrow();
        *length = failure.len();
        failure.as_ptr().cast()
    })
}

/// # Safety
/// `regex` is NULL or comes from `kuv_regex_compile` and is not yet freed.
#[no_mangle]
pub unsafe extern "C" fn kuv_regex_free(regex: *mut KuvRegex) {
    if !regex.is_null() {
        drop(Box::from_raw(regex));
    }
}
